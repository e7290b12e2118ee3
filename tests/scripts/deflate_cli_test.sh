#!/usr/bin/env bash
# The gzip, zlib and deflate formats of `vekdc compress` against independent
# decoders: .gz files we write must pass `gzip -t` and `pigz -t` and decode
# with `gzip -d` and `pigz -d`; .zz files and raw streams must decode with
# python3's zlib (zlib.decompress, wbits -15 for raw streams). Every level
# (-1 fastest, 0 stored, 1..9) and every format on text, binary, random and
# empty files, a 20 MB mixed file at some levels, the container headers,
# stored blocks for incompressible data, standard input and output, and
# failures: unreadable inputs and failed writes end with exit 1, one line
# naming the file, and no output file; decompressing these formats is
# refused (exit 2) by this build.
# usage: deflate_cli_test.sh PATH_TO_VEKDC
set -euo pipefail

. "$(dirname "$0")/cli_lib.sh"
require gzip pigz python3

# --- test data ----------------------------------------------------------------
# (The writers of these pipes may die of SIGPIPE when head has had enough.)
{ for _ in 1 2 3 4; do sources; done; } | head -c 400000 >"$TMP/text" || true
expect_eq "text file size" 400000 "$(size_of "$TMP/text")"
# Binary: little-endian records with counters, small values and floats.
python3 - "$TMP/binary" <<'PY'
import random, struct, sys
r = random.Random(5)
out = bytearray()
seq, level = 0, 5000
while len(out) < 300000:
    level += r.randint(-30, 30)
    out += struct.pack("<4sIIifhH", b"REC%d" % r.randint(0, 3), seq, 1600000000 + seq * 7,
                       level, r.randint(-1000, 1000) / 64.0, r.randint(0, 3), 1000 + r.randint(0, 11))
    seq += 1
open(sys.argv[1], "wb").write(bytes(out[:300000]))
PY
head -c 200000 /dev/urandom >"$TMP/random"
: >"$TMP/empty"
# 20 MB of mixed content: text, numbers, random bytes, zeros, runs.
{
    for _ in $(seq 1 12); do sources; done
    seq 1 900000
    head -c 3000000 /dev/urandom
    head -c 2000000 /dev/zero
    for _ in $(seq 1 60000); do printf 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa%05d\n' "$_"; done
    for _ in $(seq 1 40); do sources; done
} | head -c 20000000 >"$TMP/mixed" || true
expect_eq "mixed file size" 20000000 "$(size_of "$TMP/mixed")"
# Incompressible stretches, each followed by a run of 0.6 to 2.5 MB, at
# shifting offsets: stored blocks next to blocks whose input is too large
# to keep while the encoder takes in more input.
python3 - "$TMP/alternating" <<'PY'
import random, sys
r = random.Random(9)
out = bytearray()
for k in range(3):
    out += r.randbytes(70000 + 137777 * k % 900000)
    out += bytes([k & 255]) * (600000 + 311111 * k % 1900000)
open(sys.argv[1], "wb").write(bytes(out))
PY
# Bytes with Fibonacci counts in random order: a plain Huffman code of their
# literals is far deeper than 15 bits, so the length-limited construction
# has to take over.
python3 - "$TMP/skewed" <<'PY'
import random, sys
r = random.Random(4)
counts = [1, 1]
while len(counts) < 25:
    counts.append(counts[-1] + counts[-2])
out = bytearray()
for b, c in enumerate(counts):
    out += bytes([b * 7 & 255]) * c
r.shuffle(out)
open(sys.argv[1], "wb").write(bytes(out))
PY

suffix_of() {
    case $1 in
    gzip) echo .gz ;;
    zlib) echo .zz ;;
    deflate) echo .deflate ;;
    esac
}

# Checks of .zz and .deflate files by python's zlib, many per process: each
# line of $TMP/pycheck is "FORMAT COMPRESSED ORIGINAL NAME".
: >"$TMP/pycheck"
python_checks() {
    python3 - "$TMP/pycheck" <<'PY'
import sys, zlib
bad = 0
for line in open(sys.argv[1]):
    fmt, z, orig, name = line.rstrip("\n").split(" ", 3)
    data = open(z, "rb").read()
    want = open(orig, "rb").read()
    try:
        if fmt == "zlib":
            got = zlib.decompress(data)
        else:
            d = zlib.decompressobj(-15)
            got = d.decompress(data) + d.flush()
            if not d.eof or d.unused_data:
                raise zlib.error("stream does not end where the data ends")
    except zlib.error as e:
        print("FAIL: %s: python zlib: %s" % (name, e), file=sys.stderr)
        bad += 1
        continue
    if got != want:
        print("FAIL: %s: python zlib does not give back the input" % name, file=sys.stderr)
        bad += 1
print(bad)
PY
}

# ours FORMAT FILE NAME OPTIONS...: compress FILE with vekdc -c into
# $TMP/z/NAME.SUFFIX; .gz files are checked at once, the others queued for
# python.
mkdir "$TMP/z"
n_out=0
ours() {
    local format=$1 file=$2 name=$3
    shift 3
    n_out=$((n_out + 1))
    local z
    z="$TMP/z/$n_out$(suffix_of "$format")"
    run "$VEKDC" compress -F "$format" "$@" -c "$file"
    if [[ $rc -ne 0 || -n $err ]]; then fail "$name: compress exit $rc: $err"; return; fi
    mv "$TMP/out" "$z"
    last_z=$z
    if [[ $format == gzip ]]; then
        if gzip -t "$z" 2>/dev/null; then ok; else fail "$name: gzip -t rejects it"; fi
        if gzip -dc "$z" 2>/dev/null | cmp -s - "$file"; then ok; else fail "$name: gzip -d does not give back the input"; fi
        if pigz -t "$z" 2>/dev/null; then ok; else fail "$name: pigz -t rejects it"; fi
    else
        echo "$format $z $file $name" >>"$TMP/pycheck"
    fi
}

# --- every format, level and kind of data ----------------------------------------
declare -A size
for f in text binary random empty; do
    for format in gzip zlib deflate; do
        for level in -1 0 1 2 3 4 5 6 7 8 9; do
            ours "$format" "$TMP/$f" "$format -l $level $f" -l "$level"
            size[$format,$level,$f]=$(size_of "$last_z")
        done
        ours "$format" "$TMP/$f" "$format default $f"
        expect_eq "$format: default is -l 6 on $f" "${size[$format,6,$f]}" "$(size_of "$last_z")"
    done
done

# The 20 MB file at a few levels; pigz also decodes it.
for level in -1 1 9; do
    ours gzip "$TMP/mixed" "gzip -l $level mixed" -l "$level"
    if pigz -dc "$last_z" 2>/dev/null | cmp -s - "$TMP/mixed"; then ok; else
        fail "gzip -l $level mixed: pigz -d does not give back the input"; fi
done
ours zlib "$TMP/mixed" "zlib -l 3 mixed" -l 3
for level in -1 0 1 2 3 4 5 6 7 8 9; do
    ours deflate "$TMP/alternating" "deflate -l $level alternating" -l "$level"
done
ours deflate "$TMP/mixed" "deflate -l 0 mixed" -l 0
for level in -1 1 6 9; do
    ours gzip "$TMP/skewed" "gzip -l $level skewed" -l "$level"
done
ours deflate "$TMP/mixed" "deflate mixed"

many_n=0
# Several files in one call share one encoder, reset between streams: each
# stream must be the one its file gives alone.
mkdir -p "$TMP/many"
for f in text random binary empty text; do cp "$TMP/$f" "$TMP/many/$f.$((++many_n))"; done
"$VEKDC" compress -F gzip -l -1 -k "$TMP"/many/*.[0-9]
for f in "$TMP"/many/*.[0-9]; do
    "$VEKDC" compress -F gzip -l -1 -c "$f" >"$TMP/alone.gz"
    if cmp -s "$f.gz" "$TMP/alone.gz"; then ok; else fail "-l -1 $(basename "$f") in a batch of files"; fi
done

# --- sizes ---------------------------------------------------------------------------
# Containers: gzip adds 18 bytes, zlib 6, around the same stream.
for f in text random empty; do
    for level in -1 0 6 9; do
        d=${size[deflate,$level,$f]}
        expect_eq "gzip container size, -l $level $f" $((d + 18)) "${size[gzip,$level,$f]}"
        expect_eq "zlib container size, -l $level $f" $((d + 6)) "${size[zlib,$level,$f]}"
    done
done
# -l 0: stored blocks of up to 65535 bytes, 5 bytes of header each (an
# empty input is one empty stored block).
for f in text binary random empty; do
    n=$(size_of "$TMP/$f")
    blocks=$(((n + 65534) / 65535))
    [[ $blocks -eq 0 ]] && blocks=1
    expect_eq "-l 0 size of $f" $((n + 5 * blocks)) "${size[deflate,0,$f]}"
done
# Higher levels compress text better; the fastest level less well; stored
# least of all.
t() { echo "${size[deflate,$1,text]}"; }
if [[ $(t 9) -le $(t 6) && $(t 6) -le $(t 4) && $(t 4) -le $(t 1) && $(t 1) -lt $(t -1) && $(t -1) -lt $(t 0) ]]; then
    ok
else
    fail "text sizes by level: 9:$(t 9) 6:$(t 6) 4:$(t 4) 1:$(t 1) -1:$(t -1) 0:$(t 0)"
fi
# The fastest level fits its codes to a sample of the input, and again
# where the input stops coding as well: text then binary records come out
# no larger than the two apart (coded with the text's codes, the records
# would take about 40% more).
head -c 200000 "$TMP/text" >"$TMP/part1"
cat "$TMP/part1" "$TMP/binary" >"$TMP/parts"
fast_size() { "$VEKDC" compress -F deflate -l -1 -c "$1" | wc -c; }
apart=$(($(fast_size "$TMP/part1") + $(fast_size "$TMP/binary")))
together=$(fast_size "$TMP/parts")
if [[ $together -le $((apart + apart / 100)) ]]; then ok; else
    fail "-l -1 text then binary: $together bytes, $apart apart"; fi
# Statistics that change for the better must be found too: binary records
# then text, whose own codes take about a third fewer bits than the
# records' codes would on it, come out within 4% of the two apart (with the
# records' codes kept, some 9% more).
cat "$TMP/binary" "$TMP/text" >"$TMP/parts"
apart=$(($(fast_size "$TMP/binary") + $(fast_size "$TMP/text")))
together=$(fast_size "$TMP/parts")
if [[ $together -le $((apart + apart / 25)) ]]; then ok; else
    fail "-l -1 binary then text: $together bytes, $apart apart"; fi
# On a few bytes the fitted codes' header would cost more than they save:
# the fixed codes are taken (a dynamic header alone is over 40 bytes).
printf 'tiny input, tiny input, tiny input.' >"$TMP/tiny"
got=$(fast_size "$TMP/tiny")
if [[ $got -lt 30 ]]; then ok; else fail "-l -1 on 35 bytes: $got bytes"; fi
# Text compresses to well under half at the default level; binary too.
if [[ $(t 6) -lt 160000 ]]; then ok; else fail "text at -l 6: $(t 6) bytes of 400000"; fi
if [[ ${size[deflate,6,binary]} -lt 150000 ]]; then ok; else fail "binary at -l 6: ${size[deflate,6,binary]} bytes of 300000"; fi
# Random data is stored at every level: at most the stored size.
for level in -1 1 2 3 4 5 6 7 8 9; do
    got=${size[deflate,$level,random]}
    if [[ $got -le ${size[deflate,0,random]} ]]; then ok; else
        fail "random data grew at -l $level: $got bytes, stored ${size[deflate,0,random]}"; fi
done
# ... and the stream starts with a stored block header: BFINAL 0, BTYPE 00,
# then LEN and its complement NLEN after the byte boundary.
"$VEKDC" compress -F deflate -c "$TMP/random" >"$TMP/r.deflate"
b0=$(hex_at "$TMP/r.deflate" 0 1)
len=$((0x$(hex_at "$TMP/r.deflate" 2 1)$(hex_at "$TMP/r.deflate" 1 1)))
nlen=$((0x$(hex_at "$TMP/r.deflate" 4 1)$(hex_at "$TMP/r.deflate" 3 1)))
expect_eq "random data: first block stored" "00:65535" "$b0:$((len ^ nlen))"
# An empty input at the coding levels: one empty final block.
for level in -1 1 6 9; do
    expect_eq "empty input at -l $level" 2 "${size[deflate,$level,empty]}"
done

# --- container headers -----------------------------------------------------------------
# gzip: magic, CM 8, no flags, no time, XFL (2 at -l 9, 4 at -l 1 and -1), OS 3.
gz_head() { "$VEKDC" compress -F gzip "$@" -c "$TMP/text" >"$TMP/h.gz"; hex_at "$TMP/h.gz" 0 10; }
expect_eq "gzip header, default" 1f8b0800000000000003 "$(gz_head)"
expect_eq "gzip header, -l 9" 1f8b0800000000000203 "$(gz_head -l 9)"
expect_eq "gzip header, -l 1" 1f8b0800000000000403 "$(gz_head -l 1)"
expect_eq "gzip header, -l -1" 1f8b0800000000000403 "$(gz_head -l -1)"
# gzip trailer: CRC-32 and size of the content, little-endian.
read -r crc isize < <(python3 -c '
import sys, zlib, struct
d = open(sys.argv[1], "rb").read()
print(struct.pack("<I", zlib.crc32(d)).hex(), struct.pack("<I", len(d)).hex())' "$TMP/text")
n=$(size_of "$TMP/h.gz")
expect_eq "gzip trailer" "$crc$isize" "$(hex_at "$TMP/h.gz" $((n - 8)) 8)"
# zlib: CMF 78, FLG with FLEVEL and check bits, as zlib itself writes them.
zz_head() { "$VEKDC" compress -F zlib "$@" -c "$TMP/empty" | od -An -tx1 -N2 | tr -d ' \n'; }
expect_eq "zlib header, default" 789c "$(zz_head)"
expect_eq "zlib header, -l 1" 7801 "$(zz_head -l 1)"
expect_eq "zlib header, -l 3" 785e "$(zz_head -l 3)"
expect_eq "zlib header, -l 9" 78da "$(zz_head -l 9)"
# The Adler-32 of nothing is 1, stored big-endian.
expect_eq "zlib stream of nothing" 789c030000000001 "$("$VEKDC" compress -F zlib -c "$TMP/empty" | od -An -tx1 | tr -d ' \n')"

# --- standard input and output, files ------------------------------------------------------
if "$VEKDC" compress -F gzip <"$TMP/text" | gzip -dc | cmp -s - "$TMP/text"; then ok; else fail "gzip: standard input to standard output"; fi
if cat "$TMP/binary" | "$VEKDC" compress -F gzip -l 9 - | pigz -dc | cmp -s - "$TMP/binary"; then ok; else
    fail "gzip: '-' from a pipe"; fi
if "$VEKDC" compress -F zlib -l 2 <"$TMP/text" >"$TMP/stdin.zz"; then ok; else fail "zlib: standard input"; fi
echo "zlib $TMP/stdin.zz $TMP/text zlib from standard input" >>"$TMP/pycheck"
if cat "$TMP/mixed" | "$VEKDC" compress -F deflate -l 1 >"$TMP/stdin.deflate"; then ok; else fail "deflate: a 20 MB pipe"; fi
echo "deflate $TMP/stdin.deflate $TMP/mixed deflate of a 20 MB pipe" >>"$TMP/pycheck"
W=$TMP/w
mkdir "$W"
listing() { ls -A "$W" | tr '\n' ' ' | sed 's/ $//'; }
cp "$TMP/text" "$W/a"
chmod 640 "$W/a"
touch -d '2001-02-03 04:05:06' "$W/a"
run "$VEKDC" compress -F gzip "$W/a"
expect_eq "compress a file" "0::a.gz" "$rc:$err:$(listing)"
expect_eq "a.gz keeps the mode and time" "640 $(date -d '2001-02-03 04:05:06' +%s)" "$(stat -c '%a %Y' "$W/a.gz")"
if gzip -dc "$W/a.gz" | cmp -s - "$TMP/text"; then ok; else fail "a.gz does not decode to the input"; fi
if (cd "$W" && gzip -d a.gz); then ok; else fail "gzip -d a.gz failed"; fi
expect_eq "gzip -d restores a" "a" "$(listing)"
if cmp -s "$W/a" "$TMP/text"; then ok; else fail "gzip -d restored a different file"; fi
for format in zlib deflate; do
    run "$VEKDC" compress -F "$format" -k "$W/a"
    expect_eq "compress -k to $(suffix_of $format)" "0::a a$(suffix_of $format)" "$rc:$err:$(listing)"
    cp "$W/a$(suffix_of $format)" "$TMP/keep$(suffix_of $format)"
    echo "$format $TMP/keep$(suffix_of $format) $TMP/text file a$(suffix_of $format)" >>"$TMP/pycheck"
    rm "$W/a$(suffix_of $format)"
done
run "$VEKDC" compress -F gzip -k -o "$W/named.out" "$W/a"
expect_eq "-o" "0:a named.out" "$rc:$(listing)"
if gzip -dc <"$W/named.out" | cmp -s - "$TMP/text"; then ok; else fail "-o output does not decode"; fi
rm "$W/named.out"
run "$VEKDC" compress -F gzip -l 10 "$W/a"
expect_eq "level 10 refused" "2:vekdc: compress: gzip: level 10 is outside -1..9 (try 'vekdc --help')" "$rc:$err"
run "$VEKDC" compress -F zlib -l -2 "$W/a"
expect_eq "level -2 refused" 2 "$rc"
run "$VEKDC" compress -F deflate --block-size=64K "$W/a"
expect_eq "unknown option refused" "2:vekdc: compress: deflate: unknown compress option '--block-size=64K' (try 'vekdc --help')" "$rc:$err"
expect_eq "refusals touch nothing" "a" "$(listing)"

# --- our own files decompress with our decompressor ---------------------------------------------
cp "$TMP/keep.zz" "$W/k.zz"
cp "$TMP/keep.deflate" "$W/k.deflate"
"$VEKDC" compress -F gzip -k "$W/a"
for args in "$W/a.gz" "-F gzip $W/a.gz" "$W/k.zz" "-F deflate $W/k.deflate"; do
    # shellcheck disable=SC2086
    run "$VEKDC" decompress -c $args
    want="$W/a"
    [[ $args == *k.zz* || $args == *k.deflate* ]] && want="$TMP/text"
    if [[ $rc -eq 0 ]] && cmp -s "$TMP/out" "$want"; then ok; else fail "decompress -c $args: exit $rc, message '$err'"; fi
done
run "$VEKDC" decompress -t "$W/a.gz"
expect_eq "test our gzip file" "0:" "$rc:$err"
expect_eq "decompress -c and -t touch nothing" "a a.gz k.deflate k.zz" "$(listing)"
# A raw stream has no magic number: without -F it is not recognised.
run "$VEKDC" decompress -c "$W/k.deflate"
expect_eq "raw stream without -F" "1:vekdc: $W/k.deflate: not in a known compressed format" "$rc:$err"
rm "$W/a.gz" "$W/k.zz" "$W/k.deflate"

# --- failures ---------------------------------------------------------------------------------
# expect_failure NAME EXPECTED_MESSAGE_PART: exit 1, one line, the message
expect_failure() {
    if [[ $rc -eq 1 && $(wc -l <"$TMP/err") -eq 1 && $err == *"$2"* ]]; then ok; else
        fail "$1: exit $rc, message '$err'"; fi
}
run "$VEKDC" compress -F gzip "$W/missing"
expect_failure "missing input" "vekdc: $W/missing: No such file or directory"
run "$VEKDC" compress -F zlib -k "$W"
expect_failure "directory input" "vekdc: $W: is a directory"
# A file whose reading fails at once (EIO).
run "$VEKDC" compress -F gzip -o "$W/mem.gz" /proc/self/mem
expect_failure "unreadable input" "vekdc: /proc/self/mem: read error: Input/output error"
expect_eq "unreadable input: no output" "a" "$(listing)"
# A file this user may not read (as root, checked as nobody).
if [[ $(id -u) -eq 0 ]] && command -v setpriv >/dev/null; then
    mkdir "$TMP/np"
    chmod 777 "$TMP/np"
    cp "$TMP/text" "$TMP/np/secret"
    chmod 000 "$TMP/np/secret"
    chmod 755 "$TMP"
    run setpriv --reuid=65534 --regid=65534 --clear-groups "$VEKDC" compress -F gzip "$TMP/np/secret"
    expect_failure "input without read permission" "vekdc: $TMP/np/secret: Permission denied"
    expect_eq "no permission: nothing made" "secret" "$(ls -A "$TMP/np")"
    chmod 700 "$TMP"
fi
# Write errors: a full device on standard output, a file size limit on a file.
if [[ -w /dev/full ]]; then
    "$VEKDC" compress -F gzip -c "$TMP/text" >/dev/full 2>"$TMP/err" && rc=0 || rc=$?
    err=$(cat "$TMP/err")
    expect_failure "full device" "vekdc: (standard output): write error: No space left on device"
fi
rc=0
(trap '' XFSZ; ulimit -f 64; exec "$VEKDC" compress -F deflate -l 1 -o "$W/big.deflate" <"$TMP/mixed") \
    >"$TMP/out" 2>"$TMP/err" || rc=$?
err=$(cat "$TMP/err")
expect_failure "file size limit" "vekdc: $W/big.deflate: write error: File too large"
expect_eq "write error: no output, no temporary file" "a" "$(listing)"
run "$VEKDC" compress -F gzip -k -o "$W/no/such/dir.gz" "$W/a"
expect_failure "output in a missing directory" "vekdc: $W/no/such/dir.gz: cannot create: No such file or directory"
expect_eq "failures leave the files alone" "a" "$(listing)"
if cmp -s "$W/a" "$TMP/text"; then ok; else fail "a failure changed the input"; fi

# --- memory stays bounded -----------------------------------------------------------------
# The resident size for 20 MB of input is about that for 1 MB.
if [[ -x /usr/bin/time ]]; then
    head -c 1000000 "$TMP/mixed" >"$TMP/one"
    rss() { /usr/bin/time -f %M "$VEKDC" compress -F gzip "$@" -c 2>&1 >/dev/null | tail -1; }
    small=$(rss -l 1 "$TMP/one")
    large=$(rss -l 1 "$TMP/mixed")
    if [[ $((large - small)) -lt 8192 ]]; then ok; else fail "resident KiB: $small for 1 MB, $large for 20 MB"; fi
fi

# --- bench rows ---------------------------------------------------------------------------------
# On a small text file: our levels and the fastest encoder, and where zlib is
# linked (it checks the streams) the peers; "vs best peer" only for our
# levels 1, 6 and 9, against zlib's same level, and for the fastest encoder
# against ISA-L -1 (with the fixed codes: -0).
head -c 65536 "$TMP/text" >"$TMP/small"
run "$VEKDC" bench --quick --json "$TMP/small"
expect_eq "bench exit" 0 "$rc"
if python3 - "$TMP/out" "$TMP/small" <<'PY'
import json, sys
rows = json.load(open(sys.argv[1]))
peers = any(r["implementation"] == "zlib" for r in rows if r["family"] == "CRC-32")
rows = [r for r in rows if r["family"] == "Deflate"]
if not peers:
    assert rows == [], rows  # nothing to check the streams with
    sys.exit(0)
assert all(r["setting"] == sys.argv[2] and r["speed_unit"] == "MB/s" and r["speed"] > 0 for r in rows), rows
ours = {r["implementation"]: r for r in rows if r["ours"]}
theirs = {r["implementation"]: r for r in rows if not r["ours"]}
assert set(ours) == {"vekdc fastest", "vekdc fastest fixed"} | {"vekdc -%d" % l for l in range(1, 10)}, ours.keys()
assert set(theirs) == {"zlib -1", "zlib -6", "zlib -9", "libdeflate -1", "libdeflate -6",
                       "libdeflate -9", "libdeflate -12", "ISA-L -0", "ISA-L -1", "ISA-L -2",
                       "ISA-L -3"}, theirs.keys()
for name, r in ours.items():
    level = name.split()[-1]
    versus = {"-1": "zlib -1", "-6": "zlib -6", "-9": "zlib -9", "fastest": "ISA-L -1",
              "fixed": "ISA-L -0"}.get(level)
    if versus:
        want = r["speed"] / theirs[versus]["speed"]
        assert abs(r["vs_best_peer"] - want) <= 0.01 * want, (name, r, want)
    else:
        assert r["vs_best_peer"] is None, r
assert all(r["ratio"] > 2 for r in ours.values() if "fastest" not in r["implementation"]), ours
assert ours["vekdc -9"]["ratio"] >= ours["vekdc -1"]["ratio"] > ours["vekdc fastest fixed"]["ratio"] > 1, ours
# Codes fitted to the text beat the fixed ones.
assert ours["vekdc fastest"]["ratio"] > 1.1 * ours["vekdc fastest fixed"]["ratio"], ours
PY
then ok; else fail "bench Deflate rows"; fi

# --- the queued python checks ------------------------------------------------------------------
py_lines=$(wc -l <"$TMP/pycheck")
py_bad=$(python_checks)
passed=$((passed + py_lines - py_bad))
failed=$((failed + py_bad))

finish
