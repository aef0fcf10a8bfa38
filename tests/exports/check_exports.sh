#!/bin/sh
# check_exports.sh NM LIBRARY.so CODE_LIST DATA_LIST
# Fails unless the library's dynamic symbol table defines exactly the names
# of the two lists (one a line), those of CODE_LIST as code and those of
# DATA_LIST as data.
set -eu
nm=$1; lib=$2; code=$3; data=$4
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

"$nm" -D --defined-only "$lib" | awk '{print $NF " " $(NF-1)}' | sort > "$tmp/defined"
cut -d' ' -f1 "$tmp/defined" > "$tmp/actual"
cat "$code" "$data" | grep -v '^$' | sort > "$tmp/expected"

status=0
extra=$(comm -13 "$tmp/expected" "$tmp/actual")
missing=$(comm -23 "$tmp/expected" "$tmp/actual")
if [ -n "$extra" ]; then echo "$lib exports names it must not:"; echo "$extra"; status=1; fi
if [ -n "$missing" ]; then echo "$lib lacks exports:"; echo "$missing"; status=1; fi
# Code symbols are T (text); data are D or B.
check_kind() {
  want=$2
  grep -v '^$' "$1" | while read -r sym; do
    kind=$(awk -v s="$sym" '$1 == s {print $2}' "$tmp/defined")
    if [ -n "$kind" ] && ! echo "$kind" | grep -q "^$want\$"; then
      echo "$lib: $sym has symbol type $kind, expected $want"
    fi
  done
}
wrong=$(check_kind "$code" '[T]'; check_kind "$data" '[DB]')
if [ -n "$wrong" ]; then echo "$wrong"; status=1; fi
[ $status -eq 0 ] && echo "$lib: exports as listed"
exit $status
