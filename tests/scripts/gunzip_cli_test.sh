#!/usr/bin/env bash
# `vekdc decompress` for the gzip, zlib and deflate formats: files written by
# gzip (-1, -6, -9, with a name and a comment-free header, and with every
# optional header field), pigz, python3's zlib (zlib container at levels 0..9,
# raw streams) and by `vekdc compress` at several levels decode to their
# originals (empty, tiny, text, random, 5 MB); multi-member gzip files; the
# format is found from the magic number without -F; -t; and hostile input:
# flipped bytes in header, body and trailer, truncations, a preset
# dictionary, trailing garbage each end with exit 1, one line on standard
# error, and no output file left behind.
# usage: gunzip_cli_test.sh PATH_TO_VEKDC
set -euo pipefail

. "$(dirname "$0")/cli_lib.sh"
require gzip pigz python3

# --- originals -----------------------------------------------------------------
D=$TMP/data
mkdir "$D"
: >"$D/empty"
printf 'a' >"$D/tiny"
{ for _ in 1 2 3; do cat "$ROOT"/src/*/*.cpp "$ROOT"/include/*.h; done; } | head -c 600000 >"$D/text" || true
head -c 300000 /dev/urandom >"$D/random"
{
    cat "$D/text" "$D/random"
    seq 1 300000
    head -c 1000000 /dev/zero
    cat "$D/text" "$D/text"
    head -c 1500000 /dev/urandom
} | head -c 5000000 >"$D/big" || true
[[ $(stat -c %s "$D/big") -eq 5000000 ]] && ok || fail "big file size"
ORIGS="empty tiny text random big"

# decodes_to FILE ORIGINAL NAME [-F FMT]: decompress -c must give ORIGINAL
decodes_to() {
    local z=$1 orig=$2 name=$3
    shift 3
    run "$VEKDC" decompress "$@" -c "$z"
    if [[ $rc -eq 0 && -z $err ]] && cmp -s "$TMP/out" "$orig"; then ok; else fail "$name: exit $rc: $err"; fi
}

# --- gzip, pigz ------------------------------------------------------------------
Z=$TMP/z
mkdir "$Z"
for f in $ORIGS; do
    for l in 1 6 9; do
        gzip -"$l" -n -c "$D/$f" >"$Z/$f.$l.gz"
        decodes_to "$Z/$f.$l.gz" "$D/$f" "gzip -$l $f"
    done
    pigz -c "$D/$f" >"$Z/$f.pigz.gz"
    decodes_to "$Z/$f.pigz.gz" "$D/$f" "pigz $f"
    # pigz -11 (slow, hence not on the big file): its own Deflate encoder.
    if [[ $f != big ]]; then
        pigz -11 -c "$D/$f" >"$Z/$f.pigz11.gz"
        decodes_to "$Z/$f.pigz11.gz" "$D/$f" "pigz -11 $f"
    fi
done
# Name and time recorded (gzip -N is the default when compressing a file).
cp "$D/text" "$TMP/named.txt"
gzip -N -k -f "$TMP/named.txt"
[[ $(od -An -tx1 -j3 -N1 "$TMP/named.txt.gz" | tr -d ' ') == 08 ]] && ok || fail "gzip -N sets FNAME"
decodes_to "$TMP/named.txt.gz" "$D/text" "gzip with a name"
# Multi-member: two and three members, one of them empty.
cat "$Z/text.1.gz" "$Z/random.9.gz" >"$Z/multi.gz"
cat "$D/text" "$D/random" >"$TMP/multi.orig"
decodes_to "$Z/multi.gz" "$TMP/multi.orig" "two members"
cat "$Z/tiny.6.gz" "$Z/empty.6.gz" "$Z/big.pigz.gz" >"$Z/multi3.gz"
cat "$D/tiny" "$D/big" >"$TMP/multi3.orig"
decodes_to "$Z/multi3.gz" "$TMP/multi3.orig" "three members"

# Every optional header field (extra field, name, comment, header CRC), written
# by python around a deflate stream of python's zlib; also one whose header
# CRC is wrong.
python3 - "$D/text" "$Z" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
c = zlib.compressobj(6, zlib.DEFLATED, -15)
body = c.compress(data) + c.flush()
flg = 0x04 | 0x08 | 0x10 | 0x02 | 0x01
head = bytes([0x1f, 0x8b, 8, flg]) + struct.pack("<I", 1700000000) + bytes([0, 3])
extra = b"AB" + struct.pack("<H", 5) + b"hello"
head += struct.pack("<H", len(extra)) + extra + b"file name.txt\0" + b"a comment\0"
good = head + struct.pack("<H", zlib.crc32(head) & 0xFFFF)
bad = head + struct.pack("<H", (zlib.crc32(head) + 1) & 0xFFFF)
trailer = struct.pack("<II", zlib.crc32(data), len(data) & 0xFFFFFFFF)
open(sys.argv[2] + "/fields.gz", "wb").write(good + body + trailer)
open(sys.argv[2] + "/badhcrc.gz", "wb").write(bad + body + trailer)
PY
decodes_to "$Z/fields.gz" "$D/text" "gzip with every header field"
gzip -t "$Z/fields.gz" && ok || fail "gzip accepts the hand-made header"

# --- python zlib: zlib container at levels 0..9, raw streams ----------------------------
python3 - "$D" "$Z" $ORIGS <<'PY'
import sys, zlib
d, z = sys.argv[1], sys.argv[2]
for f in sys.argv[3:]:
    data = open(d + "/" + f, "rb").read()
    for level in range(10):
        open("%s/%s.%d.zz" % (z, f, level), "wb").write(zlib.compress(data, level))
    for level in (0, 1, 6, 9):
        c = zlib.compressobj(level, zlib.DEFLATED, -15)
        open("%s/%s.%d.deflate" % (z, f, level), "wb").write(c.compress(data) + c.flush())
    # Small output pieces: many flushes, so blocks of every kind and empty
    # stored blocks between them.
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    out = b""
    for i in range(0, len(data), 70000):
        out += c.compress(data[i:i + 70000]) + c.flush(zlib.Z_SYNC_FLUSH)
    open("%s/%s.sync.deflate" % (z, f), "wb").write(out + c.flush())
    # zlib with a 512-byte window.
    c = zlib.compressobj(9, zlib.DEFLATED, 9)
    open("%s/%s.w9.zz" % (z, f), "wb").write(c.compress(data) + c.flush())
PY
for f in $ORIGS; do
    for l in 0 1 2 3 4 5 6 7 8 9 w9; do decodes_to "$Z/$f.$l.zz" "$D/$f" "python zlib level $l $f"; done
    for l in 0 1 6 9 sync; do decodes_to "$Z/$f.$l.deflate" "$D/$f" "python raw level $l $f" -F deflate; done
done

# --- vekdc compress ------------------------------------------------------------------
for fmt in gzip zlib deflate; do
    for f in $ORIGS; do
        for l in -1 0 1 4 6 9; do
            "$VEKDC" compress -F "$fmt" -l "$l" -c "$D/$f" >"$Z/ours"
            if [[ $fmt == deflate ]]; then
                decodes_to "$Z/ours" "$D/$f" "vekdc $fmt -l $l $f" -F deflate
            else
                decodes_to "$Z/ours" "$D/$f" "vekdc $fmt -l $l $f"
            fi
        done
    done
done

# --- detection, -F, -t, files ---------------------------------------------------------------
decodes_to "$Z/text.6.gz" "$D/text" "-F gzip" -F gzip
decodes_to "$Z/text.6.zz" "$D/text" "-F zlib" -F zlib
run "$VEKDC" decompress -F zlib -c "$Z/text.6.gz"
[[ $rc -eq 1 && $err == *"not in zlib format"* ]] && ok || fail "gzip file as -F zlib: $rc $err"
run "$VEKDC" decompress -c "$Z/text.6.deflate"
[[ $rc -eq 1 && $(wc -l <"$TMP/err") -eq 1 ]] && ok || fail "raw deflate without -F: $rc $err"
run "$VEKDC" decompress -t "$Z/big.9.gz" "$Z/big.9.zz" "$Z/multi.gz"
[[ $rc -eq 0 && -z $err && ! -s $TMP/out ]] && ok || fail "-t: $rc $err"
mkdir "$TMP/files"
cp "$Z/big.6.gz" "$TMP/files/a.gz"
cp "$Z/text.9.zz" "$TMP/files/b.zz"
run "$VEKDC" decompress "$TMP/files/a.gz" "$TMP/files/b.zz"
if [[ $rc -eq 0 ]] && cmp -s "$TMP/files/a" "$D/big" && cmp -s "$TMP/files/b" "$D/text" &&
    [[ ! -e $TMP/files/a.gz && ! -e $TMP/files/b.zz ]]; then ok; else fail "decompress to files: $rc $err"; fi
gzip -c "$D/text" | "$VEKDC" decompress >"$TMP/piped" && cmp -s "$TMP/piped" "$D/text" && ok || fail "stdin to stdout"

# --- hostile input ---------------------------------------------------------------------
# bad NAME FILE EXPECTED_WORD [-F FMT]: decompressing FILE (a copy named
# x.SUFFIX) into a file must fail with exit 1, one line containing the word,
# and leave no output file; -t must fail the same way.
bad() {
    local name=$1 file=$2 word=$3 suffix
    shift 3
    case $file in *.gz) suffix=.gz ;; *.zz) suffix=.zz ;; *) suffix=.deflate ;; esac
    rm -rf "$TMP/bad" && mkdir "$TMP/bad"
    cp "$file" "$TMP/bad/x$suffix"
    run "$VEKDC" decompress "$@" -k "$TMP/bad/x$suffix"
    local left
    left=$(ls -A "$TMP/bad")
    if [[ $rc -eq 1 && $(wc -l <"$TMP/err") -eq 1 && ${err,,} == *"$word"* && $left == "x$suffix" ]]; then
        ok
    else
        fail "$name: exit $rc, files '$left', message '$err'"
    fi
    run "$VEKDC" decompress "$@" -t "$TMP/bad/x$suffix"
    [[ $rc -eq 1 && $(wc -l <"$TMP/err") -eq 1 ]] && ok || fail "$name -t: exit $rc: $err"
}
cut_at() { head -c "$2" "$1" >"$3"; }

G=$Z/text.6.gz
gsize=$(stat -c %s "$G")
flip "$G" 0 "$TMP/f.gz"; bad "gzip magic flipped" "$TMP/f.gz" "not in a known"
flip "$G" 2 "$TMP/f.gz"; bad "gzip method flipped" "$TMP/f.gz" "compression method"
printf '\x1f\x8b\x08\xe0\0\0\0\0\0\x03' | cat - <(tail -c +11 "$G") >"$TMP/f.gz"
bad "gzip reserved flags" "$TMP/f.gz" "reserved"
bad "gzip header CRC" "$Z/badhcrc.gz" "header crc"
flip "$G" 2000 "$TMP/f.gz"; bad "gzip body flipped" "$TMP/f.gz" "corrupt"
flip "$G" -8 "$TMP/f.gz"; bad "gzip CRC flipped" "$TMP/f.gz" "crc-32 mismatch"
flip "$G" -1 "$TMP/f.gz"; bad "gzip size flipped" "$TMP/f.gz" "size mismatch"
# The first byte of the stream: block type 3 for gzip -6 (a dynamic block).
python3 - "$G" "$TMP/f.gz" <<'PY'
import sys
b = bytearray(open(sys.argv[1], "rb").read())
b[10] |= 0x06
open(sys.argv[2], "wb").write(bytes(b))
PY
bad "gzip block type 3" "$TMP/f.gz" "block type"
for cut in 1 5 10 11 100 $((gsize / 2)) $((gsize - 8)) $((gsize - 5)) $((gsize - 1)); do
    cut_at "$G" "$cut" "$TMP/c.gz"
    if [[ $cut -lt 2 ]]; then
        bad "gzip cut at $cut" "$TMP/c.gz" "not in a known"
    else
        bad "gzip cut at $cut" "$TMP/c.gz" "truncated"
    fi
done
cut_at "$Z/fields.gz" 20 "$TMP/c.gz"; bad "gzip cut in the extra field" "$TMP/c.gz" "truncated"
cut_at "$Z/fields.gz" 30 "$TMP/c.gz"; bad "gzip cut in the name" "$TMP/c.gz" "truncated"
# Stored blocks: cut inside one, and a broken length complement.
SG=$Z/random.0.deflate
cut_at "$SG" 40000 "$TMP/c.deflate"; bad "stored block cut" "$TMP/c.deflate" "truncated" -F deflate
flip "$SG" 2 "$TMP/f.deflate"; bad "stored length flipped" "$TMP/f.deflate" "stored block" -F deflate
# Trailing garbage after the last member, and after zlib and raw streams.
{ cat "$G"; printf 'garbage'; } >"$TMP/t.gz"; bad "gzip trailing garbage" "$TMP/t.gz" "trailing"
# Zero padding after the last member (a tape's blocking) is ignored, as gzip
# does; zeros followed by anything else, even another member, are garbage.
{ cat "$G"; head -c 3000 /dev/zero; } >"$TMP/z.gz"
gzip -t "$TMP/z.gz" 2>/dev/null && ok || fail "gzip -t rejects zero padding"
decodes_to "$TMP/z.gz" "$D/text" "zero padding after the last member"
{ cat "$G"; head -c 100 /dev/zero; printf 'x'; } >"$TMP/t.gz"; bad "gzip zeros then garbage" "$TMP/t.gz" "trailing"
{ cat "$G"; head -c 4 /dev/zero; cat "$G"; } >"$TMP/t.gz"; bad "gzip zeros then a member" "$TMP/t.gz" "trailing"
{ cat "$Z/text.6.zz"; printf 'x'; } >"$TMP/t.zz"; bad "zlib trailing byte" "$TMP/t.zz" "trailing"
{ cat "$Z/text.6.deflate"; printf 'x'; } >"$TMP/t.deflate"; bad "deflate trailing byte" "$TMP/t.deflate" "trailing" -F deflate

ZZ=$Z/big.6.zz
zsize=$(stat -c %s "$ZZ")
flip "$ZZ" 1000 "$TMP/f.zz"; bad "zlib body flipped" "$TMP/f.zz" "corrupt"
flip "$ZZ" 500000 "$TMP/f.zz"; bad "zlib body flipped late" "$TMP/f.zz" "corrupt"
flip "$ZZ" -2 "$TMP/f.zz"; bad "zlib Adler flipped" "$TMP/f.zz" "adler-32 mismatch"
flip "$ZZ" 1 "$TMP/f.zz"; bad "zlib check bits broken" "$TMP/f.zz" "not in zlib format" -F zlib
for cut in 1 2 3 1000 $((zsize - 4)) $((zsize - 1)); do
    cut_at "$ZZ" "$cut" "$TMP/c.zz"
    if [[ $cut -lt 2 ]]; then
        bad "zlib cut at $cut" "$TMP/c.zz" "not in" -F zlib
    else
        bad "zlib cut at $cut" "$TMP/c.zz" "truncated"
    fi
done
python3 - "$TMP/dict.zz" <<'PY'
import sys, zlib
c = zlib.compressobj(6, zlib.DEFLATED, 15, zdict=b"some preset dictionary")
open(sys.argv[1], "wb").write(c.compress(b"some preset dictionary text") + c.flush())
PY
bad "zlib preset dictionary" "$TMP/dict.zz" "dictionary"
# A match reaching before the start of the data.
# A fixed-code block whose first symbol is a match of distance 1.
python3 - "$TMP/far.deflate" <<'PY'
import sys
bits = [1, 1, 0]                      # final, fixed codes
bits += [0, 0, 0, 0, 0, 0, 1]         # length symbol 257 (3), 7-bit code
bits += [0, 0, 0, 0, 0]               # distance code 0 (1)
bits += [0] * 7                       # end of block
bits += [0] * (-len(bits) % 8)
out = bytes(sum(bits[i + k] << k for k in range(8)) for i in range(0, len(bits), 8))
open(sys.argv[1], "wb").write(out)
PY
python3 -c "
import zlib,sys
d=zlib.decompressobj(-15)
try:
    d.decompress(open('$TMP/far.deflate','rb').read()); sys.exit(1)
except zlib.error: pass" && ok || fail "python rejects the too-far match"
bad "distance too far back" "$TMP/far.deflate" "corrupt" -F deflate
cut_at "$Z/big.6.deflate" 3000 "$TMP/c.deflate"; bad "deflate cut" "$TMP/c.deflate" "truncated" -F deflate
: >"$TMP/e.deflate"; bad "empty deflate" "$TMP/e.deflate" "truncated" -F deflate

# Random damage: whatever happens, never a crash, and an output only with
# exit 0; a decoded damaged gzip file must still pass gzip -t (a CRC-32 hit).
python3 - "$Z/text.1.gz" "$TMP/fuzz" <<'PY'
import os, random, sys
data = open(sys.argv[1], "rb").read()
r = random.Random(7)
os.mkdir(sys.argv[2])
for i in range(60):
    b = bytearray(data)
    for _ in range(r.randint(1, 4)):
        b[r.randrange(10, len(b))] ^= 1 << r.randrange(8)
    open("%s/%d.gz" % (sys.argv[2], i), "wb").write(bytes(b))
PY
fuzz_bad=0
for f in "$TMP"/fuzz/*.gz; do
    rc=0
    "$VEKDC" decompress -t "$f" 2>"$TMP/err" || rc=$?
    if [[ $rc -eq 0 ]]; then
        gzip -t "$f" 2>/dev/null || { fuzz_bad=1; echo "damaged $f accepted" >&2; }
    elif [[ $rc -ne 1 || $(wc -l <"$TMP/err") -ne 1 ]]; then
        fuzz_bad=1; echo "damaged $f: exit $rc: $(cat "$TMP/err")" >&2
    fi
done
[[ $fuzz_bad -eq 0 ]] && ok || fail "random damage"

finish
