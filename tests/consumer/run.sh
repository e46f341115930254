#!/usr/bin/env bash
# The consumer side of the install, as a C project that depends on the module
# sees it: install a build into a temporary prefix, then build and run a small
# C program (app.c) against it with find_package, with pkg-config and through
# add_subdirectory of the source tree, and run the installed tool from a copy
# of the prefix. Needs no network.
#   run.sh SOURCE_DIR BUILD_DIR LIBDIR BINDIR
# LIBDIR and BINDIR are the build's CMAKE_INSTALL_LIBDIR and _BINDIR. CC and
# CXX name the compilers, CMAKE_GENERATOR the generator; KLASPNET_CONSUMER_KEEP=1
# keeps the temporary folder.
set -euo pipefail
src=$1 build=$2 libdir=$3 bindir=$4
cmake=${CMAKE_COMMAND:-cmake}
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
module=velkaron-quintarra-aspnet-directory-listing-client.so
unset LD_LIBRARY_PATH PKG_CONFIG_PATH CMAKE_PREFIX_PATH

tmp=$(mktemp -d "${TMPDIR:-/tmp}/klaspnet-consumer.XXXXXX")
if [ "${KLASPNET_CONSUMER_KEEP:-0}" = 1 ]; then
  echo "consumer: keeping $tmp"
else
  trap 'rm -rf "$tmp"' EXIT
fi
prefix=$tmp/prefix
step() { echo "==== consumer: $*"; }
die() { echo "consumer: $*" >&2; exit 1; }

step "cmake --install into $prefix"
"$cmake" --install "$build" --prefix "$prefix"
for f in include/klaspnet/klaspnet.h "$libdir/$module" "$bindir/klaspnet" "$libdir/pkgconfig/klaspnet.pc" \
         "$libdir/cmake/klaspnet/klaspnet-config.cmake" "$libdir/cmake/klaspnet/klaspnet-config-version.cmake"; do
  [ -f "$prefix/$f" ] || die "not installed: $f"
done
# The module is named by its file name (a program linked against it records
# that name); the tool finds it relative to itself, never in the build tree.
readelf -d "$prefix/$libdir/$module" | grep -F "Library soname: [$module]" >/dev/null || die "the module's soname is not $module"
runpath=$(readelf -d "$prefix/$bindir/klaspnet" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
case "$runpath" in
  '$ORIGIN/'*) ;;
  *) die "the installed tool's run path is \"$runpath\", not relative to \$ORIGIN" ;;
esac
case "$runpath" in *"$build"*) die "the installed tool's run path names the build folder: $runpath" ;; esac
version=$(sed -n 's/^#define KLASPNET_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)$/\2/p' "$prefix/include/klaspnet/klaspnet.h" |
          paste -sd.)

step "the installed tool, from a copy of the prefix"
# A copy in another folder: the tool must neither need the build tree nor
# the folder it was installed to.
moved=$tmp/moved
mkdir -p "$moved"
cp -a "$prefix/." "$moved/"
# The first two lines name the tool's version and the module it loaded.
[ "$("$moved/$bindir/klaspnet" --version | head -n 2)" = "klaspnet $version
module: velkaron-quintarra-aspnet-directory-listing-client $version" ] ||
  die "klaspnet --version: $("$moved/$bindir/klaspnet" --version)"
"$moved/$bindir/klaspnet" parse "$src/tests/data/nginx_basic.html" --url http://127.0.0.1:18090/Music/ --json \
  > "$tmp/tool.json"
diff <(cat "$src/tests/data/nginx_basic.json"; echo) "$tmp/tool.json" >/dev/null ||
  die "the installed tool parsed nginx_basic.html differently"
rm -rf "$moved"

step "find_package(klaspnet CONFIG REQUIRED)"
"$cmake" -S "$src/tests/consumer/package" -B "$tmp/package" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_PREFIX_PATH="$prefix" -DKLASPNET_EXPECT_DIR="$prefix/$libdir/cmake/klaspnet" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >/dev/null
"$cmake" --build "$tmp/package" -j "$jobs"
"$tmp/package/app"

step "cc app.c \$(pkg-config --cflags --libs klaspnet)"
export PKG_CONFIG_LIBDIR=$prefix/$libdir/pkgconfig
[ "$(pkg-config --modversion klaspnet)" = "$version" ] || die "pkg-config --modversion: $(pkg-config --modversion klaspnet)"
# shellcheck disable=SC2046 # the flags are words
"${CC:-cc}" -std=c11 -pedantic-errors -Wall -Wextra -Werror -DKLASPNET_PACKAGE_VERSION="\"$(pkg-config --modversion klaspnet)\"" \
  "$src/tests/consumer/app.c" $(pkg-config --cflags --libs klaspnet) -o "$tmp/app-pc"
"$tmp/app-pc"
unset PKG_CONFIG_LIBDIR

step "add_subdirectory(klaspnet)"
"$cmake" -S "$src/tests/consumer/subdir" -B "$tmp/subdir" -DKLASPNET_SOURCE_DIR="$src" -DKLASPNET_WERROR=ON >/dev/null
"$cmake" --build "$tmp/subdir" -j "$jobs" >/dev/null
"$tmp/subdir/app"
# Included by a parent, the tree builds the module and the tool, no tests.
[ -x "$tmp/subdir/klaspnet/klaspnet" ] || die "add_subdirectory built no tool"
built=$(cd "$tmp/subdir/klaspnet" && find . -name CMakeFiles -prune -o -type f -perm -u+x ! -name "$module" -print |
        sort | paste -sd' ')
[ "$built" = "./klaspnet" ] || die "add_subdirectory built more programs than the tool: $built"
[ ! -e "$tmp/subdir/klaspnet/tests" ] || die "add_subdirectory configured the tests"
echo "consumer: all passed"
