#!/usr/bin/env bash
# The bzip2 format of `vekdc compress/decompress` against the bzip2
# command-line tool: files we write at every level must pass `bzip2 -t` and
# decode with `bzip2 -d`, files bzip2 -1 .. -9 writes must decode with vekdc,
# several streams in a row decode to their concatenation, and damaged, cut or
# CRC-mismatched files must fail cleanly: exit 1, one line naming the
# problem, and no output file, temporary or final.
# usage: bzip2_cli_test.sh PATH_TO_VEKDC
set -euo pipefail

. "$(dirname "$0")/cli_lib.sh"
require bzip2 python3
# flip_mask FILE OFFSET MASK OUT: copy of FILE with the byte at OFFSET XORed with
# MASK (a negative OFFSET counts from the end)
flip_mask() {
    python3 - "$@" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[int(sys.argv[2])] ^= int(sys.argv[3], 0)
open(sys.argv[4], "wb").write(data)
PY
}

# --- test data ----------------------------------------------------------------
# Small files keep the script quick; blocks of 100k (levels 1 and 2) still
# split them, and one larger file fills a 900k block of level 9.
{ for _ in 1 2 3 4 5 6; do sources; done; } | head -c 250000 >"$TMP/text" || true
expect_eq "text file size" 250000 "$(size_of "$TMP/text")"
{ for _ in 1 2 3 4 5 6; do sources; done; } | head -c 1000000 >"$TMP/big" || true
head -c 150000 /dev/urandom >"$TMP/random"
: >"$TMP/empty"
printf 'x' >"$TMP/one"
# Mixed content over several 100k blocks: text, numbers, random bytes,
# zeros, long runs.
{
    sources | head -c 60000
    seq 1 10000
    prandom 40000 7
    head -c 60000 /dev/zero
    for _ in $(seq 1 600); do printf 'bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb%05d\n' "$_"; done
    sources | tail -c 60000
} | head -c 300000 >"$TMP/mixed" || true

# --- files we write, checked by bzip2 ---------------------------------------------
# ours_to_bzip2 NAME FILE OPTIONS...
ours_to_bzip2() {
    local name=$1 file=$2
    shift 2
    local z="$TMP/ours.bz2"
    run "$VEKDC" compress -F bzip2 "$@" -c "$file"
    if [[ $rc -ne 0 || -n $err ]]; then fail "$name: compress exit $rc: $err"; return; fi
    cp "$TMP/out" "$z"
    if bzip2 -qt "$z" 2>/dev/null; then ok; else fail "$name: bzip2 -t rejects our file"; fi
    if bzip2 -qdc "$z" 2>/dev/null | cmp -s - "$file"; then ok; else fail "$name: bzip2 -d does not give back the input"; fi
    if "$VEKDC" decompress -c "$z" | cmp -s - "$file"; then ok; else fail "$name: vekdc does not give back the input"; fi
}

for f in text random empty one; do ours_to_bzip2 "default $f" "$TMP/$f"; done
for lvl in 1 2 3 4 5 6 7 8 9; do ours_to_bzip2 "-l $lvl mixed" "$TMP/mixed" -l "$lvl"; done
ours_to_bzip2 "-l 1 text" "$TMP/text" -l 1
ours_to_bzip2 "-l 9 big" "$TMP/big" -l 9

# Header: 'BZh' and the level digit; the empty input is the bare end record.
"$VEKDC" compress -F bzip2 -l 4 -c "$TMP/text" >"$TMP/h.bz2"
expect_eq "header of -l 4" 425a6834314159265359 "$(hex_at "$TMP/h.bz2" 0 10)"
"$VEKDC" compress -F bzip2 -c "$TMP/empty" >"$TMP/h.bz2"
expect_eq "empty stream" 425a683917724538509000000000 "$(hex_at "$TMP/h.bz2" 0 14)"
expect_eq "empty stream size" 14 "$(size_of "$TMP/h.bz2")"

# Compress to a file: suffix .bz2, input removed unless -k.
cp "$TMP/text" "$TMP/f"
run "$VEKDC" compress -F bzip2 "$TMP/f"
if [[ $rc -eq 0 && -f $TMP/f.bz2 && ! -e $TMP/f ]]; then ok; else fail "compress to f.bz2: exit $rc: $err"; fi
run "$VEKDC" decompress -k "$TMP/f.bz2"
if [[ $rc -eq 0 && -f $TMP/f.bz2 ]] && cmp -s "$TMP/f" "$TMP/text"; then ok; else fail "decompress f.bz2: exit $rc: $err"; fi

# Sizes within half a percent of bzip2's at the same level.
for lvl in 1 9; do
    s_ours=$("$VEKDC" compress -F bzip2 -l "$lvl" -c "$TMP/mixed" | wc -c)
    s_bz=$(bzip2 -"$lvl" -c "$TMP/mixed" | wc -c)
    if python3 -c "import sys; sys.exit(0 if abs($s_ours / $s_bz - 1) < 0.005 else 1)"; then ok; else
        fail "-l $lvl size $s_ours against bzip2's $s_bz"; fi
done

# --- files bzip2 writes, decoded by vekdc --------------------------------------------
bzip2_to_ours() {
    local name=$1 file=$2
    shift 2
    local z="$TMP/theirs.bz2"
    bzip2 -q "$@" -c "$file" >"$z"
    run "$VEKDC" decompress -c "$z"
    if [[ $rc -eq 0 && -z $err ]] && cmp -s "$TMP/out" "$file"; then ok; else
        fail "$name: vekdc decompress exit $rc: $err"; fi
    run "$VEKDC" decompress -t "$z"
    if [[ $rc -eq 0 && -z $err && ! -s $TMP/out ]]; then ok; else fail "$name: -t exit $rc: $err"; fi
}
for lvl in 1 2 3 4 5 6 7 8 9; do bzip2_to_ours "bzip2 -$lvl mixed" "$TMP/mixed" "-$lvl"; done
for f in text random empty one; do bzip2_to_ours "bzip2 $f" "$TMP/$f"; done
bzip2_to_ours "bzip2 -9 big" "$TMP/big" -9

# Several streams in a row, ours and bzip2's, decode to the concatenation.
"$VEKDC" compress -F bzip2 -l 2 -c "$TMP/text" >"$TMP/s1.bz2"
bzip2 -q -1 -c "$TMP/mixed" >"$TMP/s2.bz2"
bzip2 -q -c "$TMP/empty" >"$TMP/s3.bz2"
cat "$TMP/s1.bz2" "$TMP/s2.bz2" "$TMP/s3.bz2" "$TMP/s1.bz2" >"$TMP/multi.bz2"
cat "$TMP/text" "$TMP/mixed" "$TMP/text" >"$TMP/multi.expected"
run "$VEKDC" decompress -c "$TMP/multi.bz2"
if [[ $rc -eq 0 ]] && cmp -s "$TMP/out" "$TMP/multi.expected"; then ok; else fail "concatenated streams: exit $rc: $err"; fi
if bzip2 -qdc "$TMP/multi.bz2" | cmp -s - "$TMP/multi.expected"; then ok; else fail "bzip2 reads the concatenation differently"; fi

# --- standard input and output ----------------------------------------------------
if "$VEKDC" compress -F bzip2 <"$TMP/text" | bzip2 -qdc | cmp -s - "$TMP/text"; then ok; else fail "compress stdin to stdout"; fi
if bzip2 -qc "$TMP/text" | "$VEKDC" decompress | cmp -s - "$TMP/text"; then ok; else fail "decompress stdin to stdout"; fi
if bzip2 -qc "$TMP/text" | "$VEKDC" decompress -F bzip2 - | cmp -s - "$TMP/text"; then ok; else fail "decompress -F bzip2 '-'"; fi

# --- bad levels ------------------------------------------------------------------------
for lvl in 0 10 -1; do
    run "$VEKDC" compress -F bzip2 -l "$lvl" -c "$TMP/one"
    if [[ $rc -ne 0 && $err == *"bzip2: level"* ]]; then ok; else fail "-l $lvl: exit $rc: $err"; fi
done

# --- damaged files -----------------------------------------------------------------
SUFFIX=bz2

"$VEKDC" compress -F bzip2 -l 1 -c "$TMP/text" >"$TMP/good.bz2"
size=$(size_of "$TMP/good.bz2")
# OFFSET|MASK|CASE|MESSAGE (if one is expected)
while IFS='|' read -r -u 3 off mask name msg; do
    flip_mask "$TMP/good.bz2" "$off" "$mask" "$TMP/bad.bz2"
    expect_clean_failure "$name" "$TMP/bad.bz2"
    [[ -z $msg ]] || expect_message "$name" "$msg"
done 3<<'CASES'
11|0x10|block CRC flipped|corrupt bzip2 stream: block 1 CRC mismatch
-1|0xff|combined CRC flipped|corrupt bzip2 stream: combined CRC mismatch
14|0x80|randomised bit set|randomised bzip2 block
5|0x01|block magic flipped|bad block magic
3|0x01|level digit '0'|block size digit '0' is not 1..9
3|0x3b|level digit a line feed, shown as hex|block size digit 0x0a is not 1..9
5000|0x21|byte flipped in coded data|
0|0x01|magic flipped|not in a known compressed format
CASES
for cut in 2 3 9 40 3000 $((size / 2)) $((size - 10)) $((size - 4)) $((size - 1)); do
    head -c "$cut" "$TMP/good.bz2" >"$TMP/bad.bz2"
    expect_clean_failure "cut at $cut of $size" "$TMP/bad.bz2"
    [[ $cut != 40 ]] || expect_message "cut in the first block" "truncated bzip2 stream"
done
cat "$TMP/good.bz2" <(printf 'garbage') >"$TMP/bad.bz2"
expect_clean_failure "bytes after the stream" "$TMP/bad.bz2"
expect_message "bytes after the stream" "trailing garbage"
# Damage bzip2 itself must agree is damage: random bytes past the header.
for off in $(python3 -c "import random; r = random.Random(5); print(*sorted(r.sample(range(4, $size - 1), 4)))"); do
    flip_mask "$TMP/good.bz2" "$off" 0x5a "$TMP/bad.bz2"
    run "$VEKDC" decompress -t "$TMP/bad.bz2"
    if [[ $rc -eq 1 && $(wc -l <"$TMP/err") -eq 1 ]]; then ok; else fail "flip at $off: exit $rc: $err"; fi
    if bzip2 -qt "$TMP/bad.bz2" 2>/dev/null; then fail "bzip2 accepts the file damaged at $off"; else ok; fi
done

finish
