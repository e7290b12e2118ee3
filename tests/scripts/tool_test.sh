#!/usr/bin/env bash
# End-to-end checks of the vekdc command-line tool: the commands' command
# lines, checksums, the compress/decompress file handling (with the lz4
# format; its interplay with the lz4 tool is in lz4_cli_test.sh) and a quick
# benchmark.
# usage: tool_test.sh PATH_TO_VEKDC
# Independent of peer libraries, so it runs the same on every build.
set -euo pipefail

CAPTURE_OUT=1  # checks here read each run's standard output
. "$(dirname "$0")/cli_lib.sh"

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

# --- compress / decompress: command lines -------------------------------------
# (The file handling is the same for every format; lz4 serves here.)
run "$VEKDC" compress "$TMP/check"
expect_eq "compress without -F exit" 2 "$rc"
if [[ $err == *"-F FORMAT is required"*lz4* ]]; then ok; else fail "compress without -F message: $err"; fi
run "$VEKDC" compress -F nosuch "$TMP/check"
expect_eq "unknown format exit" 2 "$rc"
if [[ $err == *"unknown format 'nosuch'"* ]]; then ok; else fail "unknown format message: $err"; fi
for args in "-l 13" "-l -10" "-l x" "-l" "--block-size=2M" "--bogus" "-q" "-o $TMP/x -c" "-o $TMP/x $TMP/check $TMP/random"; do
    # shellcheck disable=SC2086
    run "$VEKDC" compress -F lz4 $args "$TMP/check"
    expect_eq "compress $args exit" 2 "$rc"
done
for args in "-t -c" "-t -o $TMP/x" "-l 3" "--linked" "-F lz4 --linked" "-F zzz"; do
    # shellcheck disable=SC2086
    run "$VEKDC" decompress $args "$TMP/check"
    expect_eq "decompress $args exit" 2 "$rc"
done
# A bad command line touches no file.
expect_eq "check file after usage errors" 123456789 "$(cat "$TMP/check")"
[[ ! -e $TMP/check.lz4 && ! -e $TMP/x ]] && ok || fail "a usage error created a file"

# --- compress / decompress: files ---------------------------------------------
W=$TMP/w
mkdir "$W"
{ head -c 300000 "$TMP/random"; for _ in $(seq 1 3000); do echo "line $_ of a compressible part"; done; } >"$W/a"
cp "$W/a" "$TMP/a.orig"
chmod 640 "$W/a"
touch -d '2001-02-03 04:05:06' "$W/a"
a_mtime=$(stat -c %Y "$W/a")
listing() { ls -A "$W" | tr '\n' ' ' | sed 's/ $//'; }

run "$VEKDC" compress -F lz4 "$W/a"
expect_eq "compress exit" "0::" "$rc:$(cat "$TMP/out"):$err"
expect_eq "compress replaces a by a.lz4" "a.lz4" "$(listing)"
expect_eq "a.lz4 keeps the mode" 640 "$(stat -c %a "$W/a.lz4")"
expect_eq "a.lz4 keeps the time" "$a_mtime" "$(stat -c %Y "$W/a.lz4")"
cp "$W/a.lz4" "$TMP/a.lz4.orig"
run "$VEKDC" decompress "$W/a.lz4"
expect_eq "decompress exit" "0::" "$rc:$(cat "$TMP/out"):$err"
expect_eq "decompress replaces a.lz4 by a" "a" "$(listing)"
if cmp -s "$W/a" "$TMP/a.orig"; then ok; else fail "round trip through files differs"; fi
expect_eq "a keeps the mode" 640 "$(stat -c %a "$W/a")"

# -k keeps the input; an existing output is refused without -f and left alone
run "$VEKDC" compress -F lz4 -k "$W/a"
expect_eq "-k exit" 0 "$rc"
expect_eq "-k keeps the input" "a a.lz4" "$(listing)"
echo "not lz4" >"$W/a.lz4"
run "$VEKDC" compress -F lz4 "$W/a"
expect_eq "existing output exit" 1 "$rc"
expect_eq "existing output message" "vekdc: $W/a.lz4: already exists (-f to overwrite)" "$err"
expect_eq "existing output untouched" "not lz4" "$(cat "$W/a.lz4")"
expect_eq "existing output: input kept, nothing else" "a a.lz4" "$(listing)"
run "$VEKDC" compress -F lz4 -f -k "$W/a"
expect_eq "-f exit" 0 "$rc"
if cmp -s "$W/a.lz4" "$TMP/a.lz4.orig"; then ok; else fail "-f did not replace the output"; fi
run "$VEKDC" decompress "$W/a.lz4"
expect_eq "decompress onto an existing file exit" 1 "$rc"
expect_eq "decompress onto an existing file message" "vekdc: $W/a: already exists (-f to overwrite)" "$err"
run "$VEKDC" decompress -f -k "$W/a.lz4"
expect_eq "decompress -f -k exit" 0 "$rc"
expect_eq "decompress -f -k files" "a a.lz4" "$(listing)"

# -c and -o
"$VEKDC" compress -F lz4 -c "$W/a" >"$TMP/c.lz4"
expect_eq "-c keeps the input" "a a.lz4" "$(listing)"
if "$VEKDC" decompress -c "$TMP/c.lz4" | cmp -s - "$TMP/a.orig"; then ok; else fail "-c round trip"; fi
if "$VEKDC" compress -Flz4 -l9 -kfc "$W/a" | "$VEKDC" decompress -o - | cmp -s - "$TMP/a.orig"; then ok; else
    fail "grouped and attached options, -o -"; fi
run "$VEKDC" compress -F lz4 -k -o "$W/other" "$W/a"
expect_eq "-o -k files" "a a.lz4 other" "$(listing)"
run "$VEKDC" decompress -o "$W/back" "$W/other"
expect_eq "decompress -o exit" 0 "$rc"
expect_eq "decompress -o: output made, input removed" "a a.lz4 back" "$(listing)"
if cmp -s "$W/back" "$TMP/a.orig"; then ok; else fail "-o round trip"; fi
rm "$W/back"
# a name without the suffix needs -o or -c
cp "$W/a.lz4" "$W/b.bin"
run "$VEKDC" decompress "$W/b.bin"
expect_eq "no suffix exit" 1 "$rc"
expect_eq "no suffix message" "vekdc: $W/b.bin: name does not end in .lz4; give -o OUT or -c" "$err"
expect_eq "no suffix: nothing made" "a a.lz4 b.bin" "$(listing)"
rm "$W/b.bin"
run "$VEKDC" compress -F lz4 "$W/a.lz4"
expect_eq "compressing a .lz4 name exit" 1 "$rc"
if [[ $err == *"already has the .lz4 suffix"* ]]; then ok; else fail "suffix message: $err"; fi
# -t reads and checks, writes nothing, removes nothing
run "$VEKDC" decompress -t "$W/a.lz4"
expect_eq "-t exit" "0::" "$rc:$(cat "$TMP/out"):$err"
expect_eq "-t files" "a a.lz4" "$(listing)"
# input and output the same file
run "$VEKDC" compress -F lz4 -f -o "$W/a" "$W/a"
expect_eq "same file exit" 1 "$rc"
expect_eq "same file message" "vekdc: $W/a: input and output are the same file" "$err"
if cmp -s "$W/a" "$TMP/a.orig"; then ok; else fail "same file: the input changed"; fi
# inputs that cannot be read, outputs that cannot be made
run "$VEKDC" compress -F lz4 "$W/missing"
expect_eq "missing input" "1:vekdc: $W/missing: No such file or directory" "$rc:$err"
run "$VEKDC" compress -F lz4 "$TMP"
expect_eq "directory input" "1:vekdc: $TMP: is a directory" "$rc:$err"
run "$VEKDC" compress -F lz4 -k -o "$W/no/such/dir.lz4" "$W/a"
expect_eq "output in a missing directory" "1:vekdc: $W/no/such/dir.lz4: cannot create: No such file or directory" "$rc:$err"
if [[ -w /dev/full ]]; then
    "$VEKDC" compress -F lz4 -c "$W/a" >/dev/full 2>"$TMP/err" && rc=0 || rc=$?
    expect_eq "write error" "1:vekdc: (standard output): write error: No space left on device" "$rc:$(cat "$TMP/err")"
fi
# Past the file size limit: a write error, not death by SIGXFSZ with the
# temporary file left behind.
run bash -c 'ulimit -f 8 && exec "$@"' - "$VEKDC" compress -F lz4 -k -o "$W/big.lz4" "$TMP/random"
expect_eq "file size limit" "1:vekdc: $W/big.lz4: write error: File too large" "$rc:$err"
expect_eq "failures leave the files alone" "a a.lz4" "$(listing)"
# data that is not compressed
run "$VEKDC" decompress -c "$TMP/check"
expect_eq "not compressed" "1:vekdc: $TMP/check: not in a known compressed format" "$rc:$err"
run "$VEKDC" decompress -F lz4 -c "$TMP/check"
expect_eq "not lz4" "1:vekdc: $TMP/check: not in lz4 format" "$rc:$err"
run "$VEKDC" decompress </dev/null
expect_eq "empty standard input" "1:vekdc: (standard input): empty input, no compressed data" "$rc:$err"
# several files: each is done, a missing one is reported, exit 1
rm "$W/a.lz4"
cp "$W/a" "$W/b"
run "$VEKDC" compress -F lz4 "$W/a" "$W/missing" "$W/b"
expect_eq "several files exit" 1 "$rc"
expect_eq "several files: the others are done" "a.lz4 b.lz4" "$(listing)"
run "$VEKDC" decompress "$W/a.lz4" "$W/b.lz4"
expect_eq "several files back" "0:a b" "$rc:$(listing)"
# standard input to standard output
if "$VEKDC" compress -F lz4 <"$W/a" | "$VEKDC" decompress | cmp -s - "$TMP/a.orig"; then ok; else
    fail "standard input to standard output"; fi
if cat "$W/a" | "$VEKDC" compress -F lz4 -l -3 - | "$VEKDC" decompress -F lz4 - | cmp -s - "$TMP/a.orig"; then ok; else
    fail "'-' in a pipe"; fi
if "$VEKDC" compress -F lz4 -o "$W/from_stdin.lz4" <"$W/a"; then ok; else fail "standard input to -o"; fi
# (the mode of a new file, not that of whatever standard input is)
expect_eq "standard input to -o mode" "$(printf '%o' $((0666 & ~$(umask))))" "$(stat -c %a "$W/from_stdin.lz4")"
rm -f "$W/b" "$W/from_stdin.lz4"

# A stopped compression leaves no temporary file. The input pipe stays open
# for a while, so the output is in progress when the signal comes.
{ head -c 100000 "$W/a"; sleep 3; } | "$VEKDC" compress -F lz4 -o "$W/sig.lz4" &
pid=$!
for _ in $(seq 1 40); do
    compgen -G "$W/.sig.lz4.vekdc-*" >/dev/null && break
    sleep 0.05
done
if compgen -G "$W/.sig.lz4.vekdc-*" >/dev/null; then ok; else fail "no temporary file while compressing"; fi
kill -TERM "$pid"
rc=0
wait "$pid" || rc=$?
expect_eq "stopped by SIGTERM" 143 "$rc"
expect_eq "nothing left after SIGTERM" "a" "$(listing)"

# Progress: never when standard error is not a terminal, a line on a
# terminal for an input over 16 MiB.
head -c 20000000 /dev/zero >"$W/big"
run "$VEKDC" compress -F lz4 -k "$W/big"
expect_eq "no progress in a pipe" "0:" "$rc:$err"
if script -qec true /dev/null >/dev/null 2>&1; then
    script -qec "'$VEKDC' compress -F lz4 -k -f '$W/big'" /dev/null >"$TMP/tty" 2>&1 || true
    if grep -q "vekdc: $W/big: *[0-9]*%" "$TMP/tty"; then ok; else fail "no progress line on a terminal: $(cat -v "$TMP/tty")"; fi
    rc=0
    script -qec "'$VEKDC' compress -F lz4 <'$W/a'" /dev/null >"$TMP/tty" 2>&1 || rc=$?
    expect_eq "compressed data to a terminal exit" 1 "$rc"
    if grep -q "not written to a terminal" "$TMP/tty"; then ok; else fail "terminal refusal: $(cat -v "$TMP/tty")"; fi
else
    echo "note: no pseudo-terminal, the terminal checks are skipped" >&2
fi
rm -f "$W/big" "$W/big.lz4"
expect_eq "work directory at the end" "a" "$(listing)"

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
if python3 - "$TMP/out" "$TMP/small" <<'PY'
import json, sys
rows = [r for r in json.load(open(sys.argv[1])) if r["family"].startswith("LZ4")]
assert {"LZ4", "LZ4 fast 8", "LZ4 decode"} <= {r["family"] for r in rows}, rows
assert all(r["speed_unit"] == "MB/s" and r["speed"] > 0 and r["ratio"] > 0 for r in rows), rows
assert all(r["setting"] == sys.argv[2] + ", 64 KiB block" for r in rows), rows
ours = [r for r in rows if r["ours"]]
assert {r["implementation"] for r in ours} == {"vekdc", "vekdc checked"}, ours
assert len([r for r in ours if r["family"] == "LZ4 decode"]) == 1, ours
PY
then ok; else fail "bench JSON lacks the LZ4 rows"; fi
run "$VEKDC" bench --bogus
expect_eq "bench unknown option exit" 2 "$rc"
run "$VEKDC" bench --quick "$TMP/no-such-file"
expect_eq "bench missing file exit" 1 "$rc"

finish
