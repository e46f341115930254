# Cross build for Windows x86-64 with Debian's mingw-w64 (posix thread model).
#
#   scripts/setup-windows        # compilers, wine, yyjson for the cross build
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Test programs run under wine (cmake/wine-run.sh) with a wine prefix of
# their own in the build tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KLASPNET_MINGW_TRIPLE x86_64-w64-mingw32)
# The -posix compilers: their libstdc++ sits on winpthreads and so has
# std::mutex and std::thread. Named explicitly because the unsuffixed names are
# update-alternatives links that may point at the -win32 variant.
set(CMAKE_C_COMPILER   ${KLASPNET_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KLASPNET_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${KLASPNET_MINGW_TRIPLE}-windres)
set(CMAKE_AR           ${KLASPNET_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${KLASPNET_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP      ${KLASPNET_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

# Headers, libraries and packages come from the mingw sysroot only, never from
# the Linux system.
set(CMAKE_FIND_ROOT_PATH /usr/${KLASPNET_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# yyjson 0.10.0 compiled for this target by scripts/setup-windows.
if(DEFINED ENV{KLASPNET_WIN_PREFIX})
  set(KLASPNET_WIN_PREFIX "$ENV{KLASPNET_WIN_PREFIX}")
else()
  set(KLASPNET_WIN_PREFIX /opt/klaspnet-win)
endif()
set(yyjson_DIR "${KLASPNET_WIN_PREFIX}/yyjson/lib/cmake/yyjson" CACHE PATH "yyjson for ${KLASPNET_MINGW_TRIPLE}")

# Fully static runtime: libgcc, libstdc++ and winpthreads are linked into each
# DLL and program, which then import only system DLLs (KERNEL32, msvcrt).
# -static-libgcc -static-libstdc++ alone would still import libwinpthread-1.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Programs built for tests (add_test with a target, gtest_discover_tests) run
# under wine, headless, in one wine prefix per build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
