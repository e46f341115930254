# Install rules of the module: the header, the module itself, the CMake
# package (klaspnet::klaspnet) and the pkg-config file, in the GNUInstallDirs
# folders. The tool's rule is beside its target in tools/.
include(CMakePackageConfigHelpers)

set(KLASPNET_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/klaspnet)

# Linux: the module in the library folder. Windows: the DLL in bin/, its
# import library in the library folder.
install(TARGETS klaspnet_module EXPORT klaspnet-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The header set gives the include folder to consumers on CMake 3.23 and
# later; this gives it to older ones too.
target_include_directories(klaspnet_module INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(EXPORT klaspnet-targets NAMESPACE klaspnet:: DESTINATION ${KLASPNET_INSTALL_CMAKEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/klaspnet-config.cmake.in
  ${PROJECT_BINARY_DIR}/klaspnet-config.cmake INSTALL_DESTINATION ${KLASPNET_INSTALL_CMAKEDIR})
# A new major version may change the interface; any 1.x serves a request for 1.y with y <= x.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/klaspnet-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/klaspnet-config.cmake ${PROJECT_BINARY_DIR}/klaspnet-config-version.cmake
  DESTINATION ${KLASPNET_INSTALL_CMAKEDIR})

# pkg-config. The module has no "lib" prefix, so "-l" cannot name it: Libs
# gives the file by its path (on Windows the import library), and on ELF
# systems a run path, so that a program linked with
# `cc app.c $(pkg-config --cflags --libs klaspnet)` also finds the module
# when it runs. The prefix is the one given to `cmake --install --prefix`,
# known only at install time: the file is written then.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(KLASPNET_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(KLASPNET_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
if(WIN32)
  set(KLASPNET_PC_LIBS
    "\${libdir}/${CMAKE_IMPORT_LIBRARY_PREFIX}${KLASPNET_MODULE_NAME}${CMAKE_IMPORT_LIBRARY_SUFFIX}")
else()
  set(KLASPNET_PC_LIBS "\${libdir}/${KLASPNET_MODULE_NAME}${CMAKE_SHARED_LIBRARY_SUFFIX} -Wl,-rpath,\${libdir}")
endif()
set(KLASPNET_PC_PREFIX "@KLASPNET_PC_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/klaspnet.pc.in ${PROJECT_BINARY_DIR}/klaspnet.pc.in @ONLY)
install(CODE "
  set(KLASPNET_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/klaspnet.pc.in\" \"${PROJECT_BINARY_DIR}/klaspnet.pc\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/klaspnet.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
