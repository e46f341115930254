#!/usr/bin/env bash
# The internal library defines no global symbol outside a namespace besides
# the prefixed names of its interface (klaspnet_, kldlp_, klrch_): a host or a
# test that links it cannot collide with names such as fail or trim.
#   check_symbols.sh LIBRARY.a [NM]
set -euo pipefail
lib=$1
nm=${2:-nm}
bad=$("$nm" -C -g --defined-only "$lib" | awk 'NF >= 3 { $1 = ""; $2 = ""; print substr($0, 3) }' |
      grep -v '::' | grep -Ev '^(klaspnet_|kldlp_|klrch_|DW\.ref\.)' | sort -u || true)
if [ -n "$bad" ]; then
  echo "global symbols without a namespace or prefix:"
  echo "$bad"
  exit 1
fi
echo "no unprefixed global symbol"
