#!/usr/bin/env bash
# The lzo format of `vekdc compress/decompress` against the lzop tool: files
# we write must pass `lzop -t` and decode with `lzop -d`, files lzop writes
# (levels 1 to 9, CRC-32 checksums, no checksums, several members) must
# decode with vekdc, and damaged or cut files must fail cleanly: exit 1, one
# line naming the problem, and no output file, temporary or final.
# usage: lzo_cli_test.sh PATH_TO_VEKDC
set -euo pipefail

. "$(dirname "$0")/cli_lib.sh"
require lzop python3

# --- test data ----------------------------------------------------------------
{ for _ in 1 2 3 4 5 6 7 8; do sources; done; } | head -c 1500000 >"$TMP/text" || true
expect_eq "text file size" 1500000 "$(size_of "$TMP/text")"
head -c 1000000 /dev/urandom >"$TMP/random"
: >"$TMP/empty"
printf 'x' >"$TMP/one"
{
    for _ in $(seq 1 4); do sources; done
    seq 1 400000
    head -c 700000 /dev/urandom
    head -c 800000 /dev/zero
    for _ in $(seq 1 20000); do printf 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa%05d\n' "$_"; done
    for _ in $(seq 1 4); do sources; done
} | head -c 4000000 >"$TMP/mixed" || true
expect_eq "mixed file size" 4000000 "$(size_of "$TMP/mixed")"

# --- files we write, checked by lzop --------------------------------------------
ours_to_lzop() {
    local name=$1 file=$2
    shift 2
    local z="$TMP/ours.lzo"
    run "$VEKDC" compress -F lzo "$@" -c "$file"
    if [[ $rc -ne 0 || -n $err ]]; then fail "$name: compress exit $rc: $err"; return; fi
    cp "$TMP/out" "$z"
    if lzop -qt "$z" 2>/dev/null; then ok; else fail "$name: lzop -t rejects our file"; fi
    if lzop -qdc "$z" 2>/dev/null | cmp -s - "$file"; then ok; else fail "$name: lzop -d does not give back the input"; fi
    if "$VEKDC" decompress -c "$z" | cmp -s - "$file"; then ok; else fail "$name: vekdc does not give back the input"; fi
}
for f in text random empty one mixed; do
    ours_to_lzop "default $f" "$TMP/$f"
    ours_to_lzop "-l 9 $f" "$TMP/$f" -l 9
done
ours_to_lzop "-l 1 text" "$TMP/text" -l 1

# Header: magic, version 1040, library 20a0, needed 0940, method 1, the
# level, flags (Unix, from stdin, both Adler-32 checksums).
"$VEKDC" compress -F lzo -c "$TMP/text" >"$TMP/h.lzo"
expect_eq "header of the default file" 894c5a4f000d0a1a0a104020a0094001030300000700000000 "$(hex_at "$TMP/h.lzo" 0 25)"
"$VEKDC" compress -F lzo -l 9 -c "$TMP/text" >"$TMP/h9.lzo"
expect_eq "level byte of -l 9" 09 "$(hex_at "$TMP/h9.lzo" 16 1)"
# The empty input: the 38-byte header and the end mark only.
"$VEKDC" compress -F lzo -c "$TMP/empty" >"$TMP/e.lzo"
expect_eq "empty file size" 42 "$(size_of "$TMP/e.lzo")"
expect_eq "empty file end" 00000000 "$(hex_at "$TMP/e.lzo" 38 4)"
# The first block of the text file: 256 KiB.
expect_eq "first block size" 00040000 "$(hex_at "$TMP/h.lzo" 38 4)"
# Incompressible data is stored: compressed size = uncompressed size, and
# the file hardly grows (12 bytes per block plus header and end mark).
"$VEKDC" compress -F lzo -c "$TMP/random" >"$TMP/r.lzo"
expect_eq "random block stored" "$(hex_at "$TMP/r.lzo" 38 4)" "$(hex_at "$TMP/r.lzo" 42 4)"
if [[ $(size_of "$TMP/r.lzo") -le $((1000000 + 42 + 4 * 12)) ]]; then ok; else
    fail "random data grew to $(size_of "$TMP/r.lzo") bytes"; fi
# -l 9 probes every position: smaller than the default on text.
s9=$(size_of "$TMP/h9.lzo")
s3=$(size_of "$TMP/h.lzo")
if [[ $s9 -lt $s3 ]]; then ok; else fail "sizes by level: -l 9 $s9, default $s3"; fi
run "$VEKDC" compress -F lzo -l 10 -c "$TMP/text"
if [[ $rc -ne 0 && $err == *"outside 1..9"* ]]; then ok; else fail "-l 10 accepted: $rc $err"; fi

# --- files lzop writes, decoded by vekdc ------------------------------------------
lzop_to_ours() {
    local name=$1 file=$2
    shift 2
    local z="$TMP/theirs.lzo"
    lzop -q -f "$@" -c "$file" >"$z"
    run "$VEKDC" decompress -c "$z"
    if [[ $rc -eq 0 && -z $err ]] && cmp -s "$TMP/out" "$file"; then ok; else
        fail "$name: vekdc decompress exit $rc: $err"; fi
    run "$VEKDC" decompress -t "$z"
    if [[ $rc -eq 0 && -z $err && ! -s $TMP/out ]]; then ok; else fail "$name: -t exit $rc: $err"; fi
}
for lvl in 1 2 3 5 7 9; do lzop_to_ours "lzop -$lvl" "$TMP/text" "-$lvl"; done
lzop_to_ours "lzop -9 mixed" "$TMP/mixed" -9
lzop_to_ours "lzop -1 mixed" "$TMP/mixed" -1
lzop_to_ours "lzop -3 mixed" "$TMP/mixed"
lzop_to_ours "lzop --crc32" "$TMP/text" --crc32
lzop_to_ours "lzop -F (no checksum)" "$TMP/text" -F
lzop_to_ours "lzop random" "$TMP/random"
lzop_to_ours "lzop empty" "$TMP/empty"
lzop_to_ours "lzop one byte" "$TMP/one"
# A named file (name, mode and time in the header).
cp "$TMP/text" "$TMP/named.txt"
lzop -q -f -o "$TMP/named.lzo" "$TMP/named.txt"
if "$VEKDC" decompress -c "$TMP/named.lzo" | cmp -s - "$TMP/text"; then ok; else fail "file with a name"; fi
# Members one after another decode to the concatenation.
"$VEKDC" compress -F lzo -c "$TMP/text" >"$TMP/m1.lzo"
lzop -q -c "$TMP/mixed" >"$TMP/m2.lzo"
cat "$TMP/m1.lzo" "$TMP/m2.lzo" "$TMP/m1.lzo" >"$TMP/multi.lzo"
cat "$TMP/text" "$TMP/mixed" "$TMP/text" >"$TMP/multi.expected"
run "$VEKDC" decompress -c "$TMP/multi.lzo"
if [[ $rc -eq 0 ]] && cmp -s "$TMP/out" "$TMP/multi.expected"; then ok; else fail "concatenated files: exit $rc: $err"; fi
# Zero padding after the last member is ignored, as lzop does (short of a
# magic number or not); zeros followed by anything else are not.
for pad in 5 20000; do
    { cat "$TMP/m2.lzo"; head -c "$pad" /dev/zero; } >"$TMP/pad.lzo"
    lzop -qt "$TMP/pad.lzo" && ok || fail "lzop rejects $pad zero bytes of padding"
    run "$VEKDC" decompress -c "$TMP/pad.lzo"
    if [[ $rc -eq 0 && -z $err ]] && cmp -s "$TMP/out" "$TMP/mixed"; then ok; else fail "$pad zero bytes of padding: exit $rc: $err"; fi
done

# --- files and pipes ------------------------------------------------------------------
cp "$TMP/text" "$TMP/f.txt"
run "$VEKDC" compress -F lzo "$TMP/f.txt"
if [[ $rc -eq 0 && -f $TMP/f.txt.lzo ]] && lzop -qdc "$TMP/f.txt.lzo" | cmp -s - "$TMP/text"; then ok; else
    fail "compress to f.txt.lzo: exit $rc: $err"; fi
rm -f "$TMP/f.txt"
run "$VEKDC" decompress "$TMP/f.txt.lzo"
if [[ $rc -eq 0 ]] && cmp -s "$TMP/f.txt" "$TMP/text"; then ok; else fail "decompress f.txt.lzo: exit $rc: $err"; fi
if "$VEKDC" compress -F lzo <"$TMP/text" | lzop -qdc | cmp -s - "$TMP/text"; then ok; else fail "compress stdin to stdout"; fi
if lzop -qc "$TMP/text" | "$VEKDC" decompress | cmp -s - "$TMP/text"; then ok; else fail "decompress stdin to stdout"; fi

# --- damaged files ----------------------------------------------------------------------
SUFFIX=lzo

good="$TMP/h.lzo"
size=$(size_of "$good")
flip "$good" 20 "$TMP/bad.lzo"
expect_clean_failure "flags flipped" "$TMP/bad.lzo"
expect_message "header checksum" "corrupt lzo file: header checksum mismatch"
flip "$good" 35 "$TMP/bad.lzo"
expect_clean_failure "header checksum flipped" "$TMP/bad.lzo"
flip "$good" 15 "$TMP/bad.lzo"
expect_clean_failure "method flipped" "$TMP/bad.lzo"
expect_message "method" "unsupported lzo compression method"
flip "$good" 39 "$TMP/bad.lzo"
expect_clean_failure "block size flipped" "$TMP/bad.lzo"
flip "$good" 48 "$TMP/bad.lzo"
expect_clean_failure "data checksum flipped" "$TMP/bad.lzo"
expect_message "data checksum" "checksum mismatch in decompressed data"
flip "$good" 5000 "$TMP/bad.lzo"
expect_clean_failure "byte flipped in a block" "$TMP/bad.lzo"
flip "$good" -2 "$TMP/bad.lzo"
expect_clean_failure "end mark flipped" "$TMP/bad.lzo"
# A block whose LZO1X data is broken but whose compressed checksum is made
# to match: the decoder itself must refuse it.
python3 - "$good" "$TMP/bad.lzo" <<'PY'
import sys, zlib
d = bytearray(open(sys.argv[1], "rb").read())
csize = int.from_bytes(d[42:46], "big")
start = 54
d[start + 1000:start + 1040] = b"\x00" * 40
d[50:54] = zlib.adler32(bytes(d[start:start + csize])).to_bytes(4, "big")
open(sys.argv[2], "wb").write(d)
PY
expect_clean_failure "broken stream, valid compressed checksum" "$TMP/bad.lzo"
for cut in 4 12 30 40 50 3000 $((size / 2)) $((size - 4)) $((size - 1)); do
    head -c "$cut" "$good" >"$TMP/bad.lzo"
    expect_clean_failure "cut at $cut of $size" "$TMP/bad.lzo"
done
expect_message "cut" "truncated lzo file"
cat "$good" <(printf 'garbage') >"$TMP/bad.lzo"
expect_clean_failure "bytes after the file" "$TMP/bad.lzo"
cat "$good" <(head -c 30 /dev/zero; printf 'x') >"$TMP/bad.lzo"
expect_clean_failure "zeros then a byte after the file" "$TMP/bad.lzo"
expect_message "zeros then a byte" "trailing data"
# Damage in a file without checksums (lzop -F) is still caught or at
# least fails cleanly when the stream breaks.
lzop -q -F -c "$TMP/text" >"$TMP/nock.lzo"
for off in $(python3 -c "import random; r = random.Random(5); print(*sorted(r.sample(range(60, $(size_of "$TMP/nock.lzo")), 10)))"); do
    flip "$TMP/nock.lzo" "$off" "$TMP/bad.lzo"
    run "$VEKDC" decompress -c "$TMP/bad.lzo"
    if [[ ($rc -eq 0 && -z $err) || ($rc -eq 1 && $(wc -l <"$TMP/err") -eq 1) ]]; then ok; else
        fail "unchecked flip at $off: exit $rc: $err"; fi
done
for off in $(python3 -c "import random; r = random.Random(7); print(*sorted(r.sample(range(38, $size), 12)))"); do
    flip "$good" "$off" "$TMP/bad.lzo"
    run "$VEKDC" decompress -t "$TMP/bad.lzo"
    if [[ $rc -eq 1 && $(wc -l <"$TMP/err") -eq 1 ]]; then ok; else fail "flip at $off: exit $rc: $err"; fi
done

finish
