#!/usr/bin/env bash
# The lzss format of `vekdc compress/decompress`: round trips of varied files
# (empty, tiny, text, random, runs, several MB) through files and pipes, the
# frame's fixed parts (magic, size, CRC-32 trailer, checked against python's
# zlib), the stream of a hand-derived example, and damaged or cut
# files failing cleanly: exit 1, one line naming the file, no output file.
# usage: lzss_cli_test.sh PATH_TO_VEKDC
set -euo pipefail

. "$(dirname "$0")/cli_lib.sh"
require python3
# le_of FILE: the little-endian size and CRC-32 python computes, as hex
le_of() {
    python3 - "$1" <<'PY'
import struct, sys, zlib
d = open(sys.argv[1], "rb").read()
print(struct.pack("<Q", len(d)).hex(), struct.pack("<I", zlib.crc32(d)).hex())
PY
}

# --- test data ----------------------------------------------------------------
{ for _ in 1 2 3; do sources; done; } | head -c 400000 >"$TMP/text" || true
head -c 300000 /dev/urandom >"$TMP/random"
: >"$TMP/empty"
printf 'x' >"$TMP/one"
printf 'xy' >"$TMP/two"
printf 'aaaaaaaaaa' >"$TMP/ten"
python3 -c "
import random, sys
r = random.Random(3)
out = bytearray()
while len(out) < 300000:
    out += bytes([r.randrange(4)]) * r.randrange(1, 400)
sys.stdout.buffer.write(bytes(out[:300000]))" >"$TMP/runs"
{
    for _ in $(seq 1 3); do sources; done
    seq 1 100000
    head -c 300000 /dev/urandom
    head -c 300000 /dev/zero
} | head -c 2200000 >"$TMP/mixed" || true
expect_eq "mixed file size" 2200000 "$(size_of "$TMP/mixed")"

# --- round trips --------------------------------------------------------------
for f in empty one two ten text random runs mixed; do
    dir="$TMP/rt_$f"
    mkdir "$dir"
    cp "$TMP/$f" "$dir/$f"
    run "$VEKDC" compress -F lzss "$dir/$f"
    if [[ $rc -ne 0 || -n $err ]]; then fail "$f: compress exit $rc: $err"; continue; fi
    expect_eq "$f: names after compress" "$f.lzss" "$(ls -A "$dir" | tr '\n' ' ' | sed 's/ $//')"
    expect_eq "$f: magic" 894c5a53 "$(hex_at "$dir/$f.lzss" 0 4)"
    z=$(size_of "$dir/$f.lzss")
    expect_eq "$f: size and CRC" "$(le_of "$TMP/$f")" \
        "$(hex_at "$dir/$f.lzss" 4 8) $(hex_at "$dir/$f.lzss" $((z - 4)) 4)"
    run "$VEKDC" decompress -t "$dir/$f.lzss"
    expect_eq "$f: -t exit" 0 "$rc"
    run "$VEKDC" decompress -k "$dir/$f.lzss"
    if [[ $rc -eq 0 ]] && cmp -s "$dir/$f" "$TMP/$f"; then ok; else fail "$f: decompress exit $rc: $err"; fi
    expect_eq "$f: names after decompress" "$f $f.lzss" "$(ls -A "$dir" | tr '\n' ' ' | sed 's/ $//')"
done
expect_eq "empty frame" 894c5a53000000000000000000000000 "$(hex_at "$TMP/rt_empty/empty.lzss" 0 16)"
# Ten equal bytes: literal a, match distance 1 length 7, literals a a (51 bits).
expect_eq "ten equal bytes" 894c5a530a00000000000000b0800082586c20 \
    "$(hex_at "$TMP/rt_ten/ten.lzss" 0 19)"
text_z=$(size_of "$TMP/rt_text/text.lzss")
if [[ $text_z -lt 200000 ]]; then ok; else fail "text compresses to $text_z bytes"; fi
rand_z=$(size_of "$TMP/rt_random/random.lzss")
# Random bytes cost 9 bits each.
if [[ $rand_z -le 337516 && $rand_z -ge 337000 ]]; then ok; else fail "random data: $rand_z bytes"; fi

if "$VEKDC" compress -F lzss -c - <"$TMP/mixed" | "$VEKDC" decompress -c - | cmp -s - "$TMP/mixed"; then ok; else
    fail "pipes both ways"; fi
if cat "$TMP/text" | "$VEKDC" compress -F lzss | "$VEKDC" decompress -F lzss | cmp -s - "$TMP/text"; then ok; else
    fail "stdin to stdout with -F on both sides"; fi
run "$VEKDC" compress -F lzss -l 3 -c "$TMP/ten"
if [[ $rc -eq 2 && $err == *"lzss: there are no compression levels"* ]]; then ok; else fail "-l refused: $rc $err"; fi

# --- damaged files ------------------------------------------------------------
SUFFIX=lzss

good="$TMP/rt_text/text.lzss"
size=$(size_of "$good")
for cut in 0 2 4 10 12 15 5000 $((size / 2)) $((size - 4)) $((size - 1)); do
    head -c "$cut" "$good" >"$TMP/bad.lzss"
    expect_clean_failure "cut at $cut of $size" "$TMP/bad.lzss"
done
head -c 9 "$TMP/rt_ten/ten.lzss" >"$TMP/bad.lzss"
expect_clean_failure "short file" "$TMP/bad.lzss"
expect_message "short file" "truncated lzss file"
flip "$good" 0 "$TMP/bad.lzss"
expect_clean_failure "magic flipped" "$TMP/bad.lzss"
flip "$good" $((size - 1)) "$TMP/bad.lzss"
expect_clean_failure "CRC flipped" "$TMP/bad.lzss"
expect_message "CRC flipped" "CRC-32 mismatch"
for off in 4 6 11; do
    flip "$good" $off "$TMP/bad.lzss"
    expect_clean_failure "size byte $off flipped" "$TMP/bad.lzss"
    expect_message "size byte $off flipped" "header says"
done
cat "$good" <(printf 'garbage') >"$TMP/bad.lzss"
expect_clean_failure "bytes after the CRC" "$TMP/bad.lzss"
# The CRC covers the decoded bytes only: a flip that leaves them as they
# were (a match moved onto an equal stretch of the text) decodes cleanly.
for off in $(python3 -c "import random; r = random.Random(7); print(*sorted(r.sample(range(12, $size - 4), 12)))"); do
    flip "$good" "$off" "$TMP/bad.lzss"
    if "$VEKDC" decompress -c "$TMP/bad.lzss" 2>/dev/null | cmp -s - "$TMP/text"; then
        ok
    else
        expect_clean_failure "byte $off flipped" "$TMP/bad.lzss"
    fi
done

finish
