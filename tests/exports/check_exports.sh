#!/bin/sh
# check_exports.sh LIBRARY.so NAME LISTS...
# Fails unless the library's dynamic symbol table defines exactly the names in
# LISTS (less the pending names of library NAME), the functions as code and
# the names listed in *_data.txt files as data.
set -eu
lib=$1; name=$2; shift 2
here=$(dirname "$0")
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

nm -D --defined-only "$lib" | awk '{print $NF " " $(NF-1)}' | sort > "$tmp/defined"
cut -d' ' -f1 "$tmp/defined" > "$tmp/actual"
grep -v '^#' "$here/pending.txt" | awk -v n="$name" '$1 == n {print $2}' | sort > "$tmp/pending"
cat "$@" | sort > "$tmp/expected"

status=0
extra=$(comm -13 "$tmp/expected" "$tmp/actual")
missing=$(comm -23 "$tmp/expected" "$tmp/actual" | comm -23 - "$tmp/pending")
if [ -n "$extra" ]; then echo "$lib exports names it must not:"; echo "$extra"; status=1; fi
if [ -n "$missing" ]; then echo "$lib lacks exports:"; echo "$missing"; status=1; fi
done_pending=$(comm -12 "$tmp/pending" "$tmp/actual")
if [ -n "$done_pending" ]; then
  echo "$lib now exports names still marked pending (take them off pending.txt):"
  echo "$done_pending"; status=1
fi
# Code symbols are T (text); the non-finite globals are data (D or B).
for f in "$@"; do
  case "$f" in *_data.txt) want='[DB]' ;; *) want='[T]' ;; esac
  while read -r sym; do
    kind=$(awk -v s="$sym" '$1 == s {print $2}' "$tmp/defined")
    if [ -n "$kind" ] && ! echo "$kind" | grep -q "^$want\$"; then
      echo "$lib: $sym has symbol type $kind, expected $want"; status=1
    fi
  done < "$f"
done
[ $status -eq 0 ] && echo "$lib: exports as listed"
exit $status
