#!/usr/bin/env bash
# Compares the module's exported functions with the names of the export list.
set -euo pipefail
module=$1 map=$2
want=$(grep -E '^\s+[a-z_]+;' "$map" | tr -d ' ;' | sort)
have=$(nm -D --defined-only "$module" | awk '$2 ~ /^[TtWwiDdBbRrVv]$/ {print $3}' | grep -v -E '^_(init|fini)$' | sort)
if [ "$want" != "$have" ]; then
  echo "exported symbols differ from the export list:"
  diff <(echo "$want") <(echo "$have") || true
  exit 1
fi
echo "module exports exactly $(echo "$have" | wc -l) functions"
