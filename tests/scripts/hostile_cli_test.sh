#!/usr/bin/env bash
# `vekdc compress/decompress` under hostile files and awkward use, whatever
# the format: outputs far larger than their input decode in bounded memory,
# and block sizes a header merely claims cost nothing; sizes from headers or
# command lines that would not fit the build's integers are refused; inputs
# that are not regular files get no output named after them, and devices or
# pipes named as the output are written to, never replaced; standard output
# onto the input, closed descriptors, broken pipes, long or unprintable
# names, 3 GiB files (i686 too). Every failure is one line naming the file,
# with no file left behind and the input kept.
# usage: hostile_cli_test.sh PATH_TO_VEKDC
set -euo pipefail

. "$(dirname "$0")/cli_lib.sh"
require python3

# one_line WHAT STATUS: the last command exited STATUS with one line on stderr
one_line() {
    if [[ $rc -eq $2 && -n $err && $(printf '%s\n' "$err" | wc -l) -eq 1 ]]; then ok
    else fail "$1: exit $rc (expected $2), stderr '$err'"; fi
}
# peak_kib CMD...: runs CMD (stdout discarded); its peak resident memory in
# KiB goes to $peak and its exit status to $rc
peak_kib() {
    read -r peak rc < <(python3 - "$@" <<'PY'
import resource, subprocess, sys
rc = subprocess.call(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, rc)
PY
)
}
W=$TMP/w
mkdir "$W"
listing() { ls -A "$W" | tr '\n' ' ' | sed 's/ $//'; }

# --- decompression bombs: memory follows the block size, not the output -------
# 24 MB of zeros against 1 MB: holding the output would cost 23 MB more
# (the sanitizer build's own overhead cancels out in the difference); the
# same for compressing them.
declare -A cpeak dpeak  # peak memory of compress / decompress, by input
head -c 1000000 /dev/zero >"$TMP/small"
head -c 24000000 /dev/zero >"$TMP/big"
for f in gzip zlib lz4 lzo lzss bzip2; do
    level=(-l 1)
    [[ $f == lzss ]] && level=()  # no levels
    for size in small big; do
        peak_kib "$VEKDC" compress -F "$f" "${level[@]}" -k -o "$TMP/$size.$f" "$TMP/$size"
        expect_eq "$f $size: compress exit" 0 "$rc"
        cpeak[$size]=$peak
        peak_kib "$VEKDC" decompress -t "$TMP/$size.$f"
        expect_eq "$f $size: decompress -t exit" 0 "$rc"
        dpeak[$size]=$peak
    done
    if ((dpeak[big] - dpeak[small] < 12288)); then ok; else
        fail "$f: 24 MB of output took $((dpeak[big] - dpeak[small])) KiB more than 1 MB"; fi
    if ((cpeak[big] - cpeak[small] < 12288)); then ok; else
        fail "$f compress: 24 MB of input took $((cpeak[big] - cpeak[small])) KiB more than 1 MB"; fi
done
# lzss, whose frame leads with the size, takes it from a file, and writes
# the same bytes as from a pipe (which it has to hold whole).
{ sources; prandom 300000 5; sources; } >"$TMP/mixed"
"$VEKDC" compress -F lzss -c "$TMP/mixed" >"$TMP/mixed.file.lzss"
"$VEKDC" compress -F lzss <"$TMP/mixed" | cat >"$TMP/mixed.pipe.lzss"
if cmp -s "$TMP/mixed.file.lzss" "$TMP/mixed.pipe.lzss"; then ok; else
    fail "lzss: a file and a pipe of the same bytes compress differently"; fi
if "$VEKDC" decompress -c "$TMP/mixed.file.lzss" | cmp -s - "$TMP/mixed"; then ok; else
    fail "lzss: streamed file does not decompress to itself"; fi
# zfp: a 256x256x96 array of zeros codes to 1 bit per block at fixed
# precision; both directions go through it a slab at a time.
for size in small big; do
    nz=$([[ $size == small ]] && echo 4 || echo 96)
    head -c $((4 * 256 * 256 * nz)) /dev/zero >"$TMP/$size.f32"
    peak_kib "$VEKDC" compress -F zfp --dims 256 256 "$nz" --precision 12 -k -o "$TMP/$size.zfp" "$TMP/$size.f32"
    expect_eq "zfp $size: compress exit" 0 "$rc"
    cpeak[$size]=$peak
    peak_kib "$VEKDC" decompress -F zfp --dims 256 256 "$nz" --precision 12 -c "$TMP/$size.zfp"
    expect_eq "zfp $size: decompress exit" 0 "$rc"
    dpeak[$size]=$peak
done
expect_eq "zfp bomb stream size" 12288 "$(size_of "$TMP/big.zfp")"
if ((cpeak[big] - cpeak[small] < 12288)); then ok; else
    fail "zfp compress: 24 MB of input took $((cpeak[big] - cpeak[small])) KiB more than 1 MB"; fi
if ((dpeak[big] - dpeak[small] < 12288)); then ok; else
    fail "zfp decompress: 24 MB of output took $((dpeak[big] - dpeak[small])) KiB more than 1 MB"; fi
if "$VEKDC" decompress -F zfp --dims 256 256 96 --precision 12 -c "$TMP/big.zfp" | cmp -s - "$TMP/big.f32"
then ok; else fail "zfp bomb does not decode to its zeros"; fi

# --- sizes that do not fit ----------------------------------------------------
# zfp dimensions whose product wraps, or whose slab could not be held: a
# bad command line, before any input is read.
prandom 4096 1 >"$TMP/junk.zfp"
for dims in "4294967296 4294967296 1" "4294967296 4294967296 4294967296" "65536 65536 4294967296"; do
    for cmd in compress decompress; do
        # shellcheck disable=SC2086
        run "$VEKDC" "$cmd" -F zfp --dims $dims --rate 8 -c "$TMP/junk.zfp"
        one_line "$cmd --dims $dims" 2
    done
done
# A stream far too short for its dimensions is refused before the memory
# for them is set aside (here up to 4 TiB of output from 4 KiB).
for dims in "4096 4096 65536" "4096 4096 4096" "1 1 1073741824"; do
    # shellcheck disable=SC2086
    run "$VEKDC" decompress -F zfp --dims $dims --precision 8 -o "$W/out" "$TMP/junk.zfp"
    one_line "decompress --dims $dims from 4 KiB" 1
    if [[ $err == *"truncated zfp stream: 4096 bytes hold at most 32768 of the "*" blocks"* ]]; then ok
    else fail "--dims $dims: message '$err'"; fi
done
expect_eq "nothing made by the refusals" "" "$(listing)"
# lzop block headers that claim 64 MiB (the format's largest block), stored
# or compressed, in files of a few bytes: refused as truncated, at the cost
# of the bytes that are there, not of the claims.
for csize in 64 63; do
    python3 - "$TMP/claim$csize.lzo" $csize <<'PY'
import struct, sys, zlib
h = struct.pack(">HHHBBIIIIB", 0x1040, 0x20A0, 0x0940, 1, 3, 0x03000001, 0, 0, 0, 0)
block = struct.pack(">II", 64 << 20, (int(sys.argv[2]) << 20) + 1048575 * (sys.argv[2] == "63"))
with open(sys.argv[1], "wb") as f:
    f.write(b"\x89LZO\x00\r\n\x1a\n" + h + struct.pack(">I", zlib.adler32(h)) + block + b"\x00" * 10)
PY
    run "$VEKDC" decompress -o "$W/out" "$TMP/claim$csize.lzo"
    one_line "64 MiB lzo block claimed, $csize MiB to read" 1
    if [[ $err == *"truncated lzo file"* ]]; then ok; else fail "64 MiB lzo block: '$err'"; fi
    peak_kib "$VEKDC" decompress -t "$TMP/claim$csize.lzo"
    claim_peak=$peak
    peak_kib "$VEKDC" decompress -t "$TMP/small.lzo"
    if ((claim_peak - peak < 12288)); then ok; else
        fail "64 MiB lzo block claimed, $csize MiB to read: $((claim_peak - peak)) KiB more than a real file"; fi
done

# The same for lz4: a legacy frame's block (up to 8 MiB) and a frame whose
# header allows 4 MiB blocks, each followed by a claim and a few bytes.
printf '\x02\x21\x4c\x18\x00\x00\x80\x00abc' >"$TMP/claim_legacy.lz4"
{ head -c 7 "$TMP/small.lz4"; printf '\x00\x00\x40\x00abc'; } >"$TMP/claim_frame.lz4"
peak_kib "$VEKDC" decompress -t "$TMP/small.lz4"
base_peak=$peak
for claim in legacy frame; do
    run "$VEKDC" decompress -t "$TMP/claim_$claim.lz4"
    expect_eq "lz4 $claim block claimed" "1:vekdc: $TMP/claim_$claim.lz4: truncated lz4 frame: unexpected end of input" "$rc:$err"
    peak_kib "$VEKDC" decompress -t "$TMP/claim_$claim.lz4"
    if ((peak - base_peak < 6144)); then ok; else
        fail "lz4 $claim block claimed: $((peak - base_peak)) KiB more than a real file"; fi
done

# --- inputs that are not regular files ------------------------------------------
# A pipe without a writer is refused at once (not waited on), as is a
# device, also through a link; with -c or -o they are read like any input.
mkfifo "$W/pipe"
run timeout 10 "$VEKDC" compress -F lz4 "$W/pipe"
one_line "pipe named as input" 1
expect_eq "pipe message" "vekdc: $W/pipe: not a regular file; give -o OUT or -c" "$err"
ln -s /dev/null "$W/null"
run "$VEKDC" compress -F gzip "$W/null"
one_line "device named as input" 1
run "$VEKDC" decompress "$W/null"
one_line "device named as input to decompress" 1
expect_eq "nothing made for pipe or device" "null pipe" "$(listing)"
run "$VEKDC" compress -F gzip -o "$W/null.gz" "$W/null"
expect_eq "device with -o" "0:" "$rc:$err"
run "$VEKDC" decompress -c "$W/null.gz"
expect_eq "device with -o decodes to nothing" "0::0" "$rc:$err:$(size_of "$TMP/out")"
[[ -L $W/null ]] && ok || fail "the device link was removed"
timeout 10 bash -c 'head -c 5000 "$1" >"$2"' - "$TMP/small" "$W/pipe" &
run timeout 10 "$VEKDC" compress -F lz4 -c "$W/pipe"
wait || true
expect_eq "pipe with -c" "0:" "$rc:$err"
rm "$W/null" "$W/null.gz" "$W/pipe"
# An output that is a device or a pipe is written to, never replaced by a
# file (-f or not), and the input stays.
cp "$TMP/small" "$W/a"
if "$VEKDC" compress -F lz4 -o /dev/stdout "$W/a" | "$VEKDC" decompress -c | cmp -s - "$TMP/small"
then ok; else fail "-o /dev/stdout"; fi
if mknod "$W/nul" c 1 3 2>/dev/null && mknod "$W/full" c 1 7 2>/dev/null; then
    for force in "" -f; do
        # shellcheck disable=SC2086
        run "$VEKDC" compress -F lz4 $force -o "$W/nul" "$W/a"
        expect_eq "-o device $force" "0:" "$rc:$err"
        [[ -c $W/nul ]] && ok || fail "-o device $force: the device was replaced"
    done
    run "$VEKDC" decompress -f -o "$W/full" "$TMP/small.lz4"
    expect_eq "-o full device" "1:vekdc: $W/full: write error: No space left on device" "$rc:$err"
    expect_eq "devices and the input stay" "a full nul" "$(listing)"
    rm "$W/nul" "$W/full"
else
    echo "note: mknod is not permitted, the device output checks are skipped" >&2
fi
rm -f "$W/a"
# A link to a regular file is read through; the link, not its target, is
# what the finished output replaces.
cp "$TMP/small" "$W/target"
ln -s target "$W/link"
run "$VEKDC" compress -F lz4 "$W/link"
expect_eq "symbolic link input" "0::link.lz4 target" "$rc:$err:$(listing)"
if cmp -s "$W/target" "$TMP/small"; then ok; else fail "the link's target changed"; fi
rm "$W/target" "$W/link.lz4"
# An output that is a directory is never replaced, -f or not; a failed
# decompression leaves an existing output (-f) as it was; nothing is read
# from a terminal without -f.
cp "$TMP/small" "$W/a"
mkdir "$W/a.lz4"
run "$VEKDC" compress -F lz4 -f "$W/a"
expect_eq "output a directory" "1:vekdc: $W/a.lz4: is a directory" "$rc:$err"
rmdir "$W/a.lz4"
echo "older" >"$W/b"
head -c 3000 "$TMP/small.lz4" >"$W/b.lz4"
run "$VEKDC" decompress -f "$W/b.lz4"
one_line "damaged input onto an existing output" 1
expect_eq "existing output after a failure" "older:a b b.lz4" "$(cat "$W/b"):$(listing)"
rm "$W/a" "$W/b" "$W/b.lz4"
if script -qec true /dev/null >/dev/null 2>&1; then
    script -qec "'$VEKDC' decompress" /dev/null </dev/null >"$TMP/tty" 2>&1 || true
    if grep -q "(standard input): compressed data is not read from a terminal (-f to force)" "$TMP/tty"
    then ok; else fail "terminal input: $(cat -v "$TMP/tty")"; fi
fi
# Several inputs, one of them not regular: the others are done, exit 1.
cp "$TMP/small" "$W/a"
cp "$TMP/small" "$W/b"
ln -s /dev/null "$W/dev"
run "$VEKDC" compress -F lz4 "$W/a" "$W/dev" "$W/b"
one_line "several inputs, one a device" 1
expect_eq "several inputs: the regular ones done" "a.lz4 b.lz4 dev" "$(listing)"
rm "$W"/*

# The output takes the input's owner where that is allowed (as root).
if [[ $(id -u) == 0 ]]; then
    echo "owned" >"$W/owned"
    chown 1234:2345 "$W/owned"
    run "$VEKDC" compress -F lz4 "$W/owned"
    expect_eq "owner passed on" "0:1234:2345" "$rc:$err$(stat -c %u:%g "$W/owned.lz4")"
    run "$VEKDC" decompress "$W/owned.lz4"
    expect_eq "owner passed back" "0:1234:2345" "$rc:$err$(stat -c %u:%g "$W/owned")"
    rm "$W/owned"
fi

# --- read errors, awkward names ---------------------------------------------
# A file of 3 GiB (sparse: nothing is written) opens on every build, i686
# included; only its first bytes are read before it is found not to be
# compressed.
truncate -s 3G "$W/sparse"
run "$VEKDC" decompress -t "$W/sparse"
expect_eq "3 GiB input" "1:vekdc: $W/sparse: not in a known compressed format" "$rc:$err"
rm "$W/sparse"
# /proc/self/mem is a regular file whose first page cannot be read.
run "$VEKDC" compress -F lz4 -k -o "$W/mem.lz4" /proc/self/mem
expect_eq "read error" "1:vekdc: /proc/self/mem: read error: Input/output error" "$rc:$err"
expect_eq "read error leaves nothing" "" "$(listing)"
# Standard output appending to the input itself would read its own output
# back without end (here stopped at 10 MB by the file size limit).
prandom 300000 3 >"$W/self"
cp "$W/self" "$TMP/self.orig"
for f in bzip2 lzo; do
    rc=0
    bash -c 'ulimit -f 20000 && exec "$@"' - "$VEKDC" compress -F "$f" -c "$W/self" \
        >>"$W/self" 2>"$TMP/err" || rc=$?
    expect_eq "-c FILE >>FILE, $f" "1:vekdc: $W/self: input and output are the same file" \
        "$rc:$(cat "$TMP/err")"
done
rc=0
bash -c 'ulimit -f 20000 && exec "$@"' - "$VEKDC" compress -F lz4 <"$W/self" >>"$W/self" \
    2>"$TMP/err" || rc=$?
expect_eq "<FILE >>FILE" "1:vekdc: (standard input): input and output are the same file" \
    "$rc:$(cat "$TMP/err")"
if cmp -s "$W/self" "$TMP/self.orig"; then ok; else fail "-c FILE >>FILE changed the file"; fi
"$VEKDC" compress -F lz4 -c "$W/self" >"$W/self.lz4"
rc=0
"$VEKDC" decompress -c "$W/self.lz4" >>"$W/self.lz4" 2>"$TMP/err" || rc=$?
expect_eq "decompress -c FILE >>FILE" "1:vekdc: $W/self.lz4: input and output are the same file" \
    "$rc:$(cat "$TMP/err")"
rm "$W/self" "$W/self.lz4"
# Long names: 250 characters and the suffix still make a legal name (the
# temporary one must not be too long); 253 and the suffix do not, which is
# said before any work is done.
long=$(printf 'n%.0s' $(seq 1 250))
echo "long name" >"$W/$long"
run "$VEKDC" compress -F lz4 "$W/$long"
expect_eq "250-character name" "0:$long.lz4" "$rc:$err$(listing)"
run "$VEKDC" decompress "$W/$long.lz4"
expect_eq "250-character name back" "0:$long:long name" "$rc:$err$(listing):$(cat "$W/$long")"
mv "$W/$long" "$W/${long}nnn"
run "$VEKDC" compress -F lz4 "$W/${long}nnn"
expect_eq "253-character name" "1:vekdc: $W/${long}nnn.lz4: cannot create: File name too long" "$rc:$err"
expect_eq "253-character name: nothing made" "${long}nnn" "$(listing)"
rm "$W/${long}nnn"
# Standard output closed (no file opened later may take its place), or a
# reader that stops early: one line, exit 1 (with SIGPIPE ignored; by
# default the signal ends the process quietly).
rc=0
"$VEKDC" compress -F lz4 -c "$TMP/small" >&- 2>"$TMP/err" || rc=$?
expect_eq "standard output closed" "1:vekdc: (standard output): write error: Bad file descriptor" \
    "$rc:$(cat "$TMP/err")"
rc=0
"$VEKDC" decompress -k "$TMP/small.lz4" -o "$W/x" <&- >&- 2>"$TMP/err" || rc=$?
expect_eq "standard input and output closed" "0:" "$rc:$(cat "$TMP/err")"
if cmp -s "$W/x" "$TMP/small"; then ok; else fail "closed standard input and output: wrong output"; fi
rm "$W/x"
prandom 3000000 4 >"$W/random"
rc=$(bash -c 'trap "" PIPE; "$1" compress -F lz4 -c "$2" 2>"$3" | head -c 10 >/dev/null; echo "${PIPESTATUS[0]}"' \
    - "$VEKDC" "$W/random" "$TMP/err")
expect_eq "broken pipe" "1:vekdc: (standard output): write error: Broken pipe" "$rc:$(cat "$TMP/err")"
rm "$W/random"
# The bare suffix names no output.
cp "$TMP/small.lz4" "$W/.lz4"
run "$VEKDC" decompress "$W/.lz4"
expect_eq "bare suffix" "1:vekdc: $W/.lz4: name has nothing before .lz4; give -o OUT or -c" "$rc:$err"
rm "$W/.lz4"
# Control characters in a name do not break the message's single line.
nl_name="$W/two"$'\n'"lines"$'\e'"[1m.lz4"
cp "$TMP/junk.zfp" "$nl_name"
run "$VEKDC" decompress "$nl_name"
one_line "name with a newline and an escape" 1
expect_eq "name with a newline message" "vekdc: $W/two?lines?[1m.lz4: not in a known compressed format" "$err"
rm "$nl_name"
# The progress line on a terminal shows such a name the same way.
if script -qec true /dev/null >/dev/null 2>&1; then
    head -c 20000000 /dev/zero >"$W/big"$'\n'"name"
    script -qec "'$VEKDC' compress -F lz4 -k '$W/big
name'" /dev/null >"$TMP/tty" 2>&1 || true
    if grep -q "vekdc: $W/big?name: *[0-9]*%" "$TMP/tty" && ! grep -q "^name" "$TMP/tty"; then ok
    else fail "progress line of a name with a newline: $(cat -v "$TMP/tty")"; fi
    rm "$W"/big*
fi

finish
