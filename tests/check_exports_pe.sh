#!/usr/bin/env bash
# Compares the export table of the Windows DLL with the names of the export
# list, and checks that it imports from system DLLs only (the C++ runtime,
# libgcc and winpthreads must be linked in, not imported).
#   check_exports_pe.sh module.dll exports.map [objdump]
set -euo pipefail
module=$1 map=$2 objdump=${3:-x86_64-w64-mingw32-objdump}
dump=$("$objdump" -p "$module")
want=$(grep -E '^\s+[a-z_]+;' "$map" | tr -d ' ;' | LC_ALL=C sort)
have=$(awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && /^[ \t]*\[ *[0-9]+\]/ {print $NF; next} t {t=0}' <<<"$dump" | LC_ALL=C sort)
if [ "$want" != "$have" ]; then
  echo "exported names differ from the export list:"
  diff <(echo "$want") <(echo "$have") || true
  exit 1
fi
imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump")
bad=0
for dll in $imports; do
  case "${dll,,}" in
    kernel32.dll|msvcrt.dll|ucrtbase.dll|api-ms-win-*.dll|advapi32.dll|bcrypt.dll|ntdll.dll) ;;
    *) echo "unexpected import: $dll"; bad=1 ;;
  esac
done
[ $bad = 0 ] || exit 1
echo "module exports exactly $(echo "$have" | wc -l) functions; imports:" $imports
