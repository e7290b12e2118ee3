#!/usr/bin/env bash
# End-to-end checks of the vekdc command-line tool.
# usage: tool_test.sh PATH_TO_VEKDC
# Independent of peer libraries, so it runs the same on every build.
set -euo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: $0 PATH_TO_VEKDC" >&2
    exit 2
fi
VEKDC=$1
[[ -x $VEKDC ]] || { echo "not executable: $VEKDC" >&2; exit 2; }

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

passed=0
failed=0
ok() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*" >&2; }
# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
    if [[ "$2" == "$3" ]]; then ok; else fail "$1: expected '$2', got '$3'"; fi
}
# run CMD...: sets $out, $err and $rc without tripping set -e
run() {
    rc=0
    "$@" >"$TMP/out" 2>"$TMP/err" || rc=$?
    out=$(cat "$TMP/out")
    err=$(cat "$TMP/err")
}

# --- version, help, bad command lines ---------------------------------------
run "$VEKDC" --version
expect_eq "--version exit" 0 "$rc"
if [[ $out == *2021.2* ]]; then ok; else fail "--version lacks 2021.2: $out"; fi

run "$VEKDC" --help
expect_eq "--help exit" 0 "$rc"
for word in checksum compress decompress bench; do
    if [[ $out == *"$word"* ]]; then ok; else fail "--help does not mention $word"; fi
done
run "$VEKDC" -h
expect_eq "-h exit" 0 "$rc"

run "$VEKDC" frobnicate
expect_eq "unknown command exit" 2 "$rc"
if [[ $err == *frobnicate* && $err == *--help* ]]; then ok; else fail "unknown command message: $err"; fi
run "$VEKDC" --frobnicate
expect_eq "unknown option exit" 2 "$rc"
run "$VEKDC" checksum --sha1
expect_eq "unknown checksum option exit" 2 "$rc"
run "$VEKDC"
expect_eq "no command exit" 2 "$rc"

run "$VEKDC" compress -F deflate
expect_eq "compress exit" 2 "$rc"
expect_eq "compress message" "vekdc: compress: no formats are available in this build" "$err"
run "$VEKDC" decompress
expect_eq "decompress exit" 2 "$rc"

# --- checksums of the check string -----------------------------------------
printf '123456789' >"$TMP/check"
for pair in crc32:cbf43926 crc32c:e3069283 adler32:091e01de bzip2-crc:fc891918; do
    run "$VEKDC" checksum "--${pair%%:*}" "$TMP/check"
    expect_eq "${pair%%:*} of 123456789" "${pair#*:}  $TMP/check" "$out"
done
run "$VEKDC" checksum "$TMP/check"
expect_eq "default is crc32" "cbf43926  $TMP/check" "$out"

# --- against python3's zlib on a 3 MB random file ---------------------------
head -c 3000000 /dev/urandom >"$TMP/random"
read -r py_crc py_adler < <(python3 -c '
import sys, zlib
d = open(sys.argv[1], "rb").read()
print("%08x %08x" % (zlib.crc32(d) & 0xffffffff, zlib.adler32(d) & 0xffffffff))' "$TMP/random")
run "$VEKDC" checksum --crc32 "$TMP/random"
expect_eq "crc32 vs python zlib" "$py_crc  $TMP/random" "$out"
run "$VEKDC" checksum --adler32 "$TMP/random"
expect_eq "adler32 vs python zlib" "$py_adler  $TMP/random" "$out"

# standard input, implicit and as '-'
for algo in crc32 crc32c adler32 bzip2-crc; do
    file_sum=$("$VEKDC" checksum "--$algo" "$TMP/random" | cut -d' ' -f1)
    stdin_sum=$("$VEKDC" checksum "--$algo" <"$TMP/random")
    expect_eq "$algo stdin" "$file_sum  -" "$stdin_sum"
    dash_sum=$(cat "$TMP/random" | "$VEKDC" checksum "--$algo" -)
    expect_eq "$algo stdin as -" "$file_sum  -" "$dash_sum"
done

# several files in order, one missing: the others are still done, exit 1
run "$VEKDC" checksum "$TMP/check" "$TMP/no-such-file" "$TMP/random"
expect_eq "missing file exit" 1 "$rc"
expect_eq "missing file output" "cbf43926  $TMP/check
$py_crc  $TMP/random" "$out"
expect_eq "missing file message" "vekdc: $TMP/no-such-file: No such file or directory" "$err"
# a directory cannot be read either
run "$VEKDC" checksum "$TMP"
expect_eq "directory exit" 1 "$rc"
if [[ $err == "vekdc: $TMP: "* ]]; then ok; else fail "directory message: $err"; fi

# empty input gives the start values
: >"$TMP/empty"
for pair in crc32:00000000 crc32c:00000000 adler32:00000001 bzip2-crc:00000000; do
    run "$VEKDC" checksum "--${pair%%:*}" "$TMP/empty"
    expect_eq "${pair%%:*} of empty file" "${pair#*:}  $TMP/empty" "$out"
    stdin_sum=$("$VEKDC" checksum "--${pair%%:*}" </dev/null)
    expect_eq "${pair%%:*} of empty stdin" "${pair#*:}  -" "$stdin_sum"
done

# --- bench: quick run on a small file, JSON output --------------------------
head -c 65536 "$TMP/random" >"$TMP/small"
run "$VEKDC" bench --quick --json "$TMP/small"
expect_eq "bench exit" 0 "$rc"
if python3 -m json.tool "$TMP/out" >/dev/null; then ok; else fail "bench --json is not valid JSON"; fi
if python3 - "$TMP/out" <<'PY'
import json, sys
rows = json.load(open(sys.argv[1]))
ours = [r for r in rows if r["family"] == "CRC-32" and r["ours"] and r["implementation"] == "vekdc"]
assert len(ours) == 3, ours
assert all(r["speed"] > 0 and r["speed_unit"] == "GB/s" and r["ratio"] is None for r in ours), ours
assert {r["setting"] for r in ours} == {"4 KiB", "256 KiB", "16 MiB"}, ours
assert {r["family"] for r in rows} >= {"CRC-32", "CRC-32C", "Adler-32", "bzip2 CRC"}
PY
then ok; else fail "bench JSON lacks our CRC-32 rows"; fi
run "$VEKDC" bench --bogus
expect_eq "bench unknown option exit" 2 "$rc"
run "$VEKDC" bench --quick "$TMP/no-such-file"
expect_eq "bench missing file exit" 1 "$rc"

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
