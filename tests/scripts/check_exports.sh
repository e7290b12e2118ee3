#!/bin/bash
# Fails when the shared library exports anything but the public names, when a
# public name it should export is missing, or when an internal symbol leaks.
# Prints which of the public functions this build exports so far.
set -euo pipefail
lib=$1 all=$2 implemented=$3
exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWiDdBbRrVv]$/ {print $3}' | sed 's/@.*//' | LC_ALL=C sort -u)
fail=0
while read -r sym; do
    [ -z "$sym" ] && continue
    if ! grep -qx "$sym" "$all"; then echo "leaked symbol: $sym"; fail=1; fi
done <<< "$exported"
while read -r sym; do
    [ -z "$sym" ] && continue
    if ! grep -qx "$sym" <<< "$exported"; then echo "not exported: $sym"; fail=1; fi
done < "$implemented"
n_all=$(grep -c . "$all")
n_exp=$(grep -c . <<< "$exported" || true)
[ "$n_all" -eq 93 ] || { echo "the public list holds $n_all names, not 93"; fail=1; }
echo "exported $n_exp of $n_all public functions:"
sed 's/^/  /' <<< "$exported"
# The SONAME and the absence of C++ runtime dependencies.
readelf -d "$lib" | grep -q 'SONAME.*\[libvekdch9.so.10\]' || { echo "wrong SONAME"; fail=1; }
if readelf -d "$lib" | grep NEEDED | grep -qE 'libstdc\+\+|libgcc_s'; then echo "depends on the C++ runtime"; fail=1; fi
exit $fail
