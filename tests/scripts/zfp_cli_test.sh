#!/usr/bin/env bash
# The zfp format of `vekdc compress/decompress` against the zfp command-line
# tool: for arrays whose sizes are and are not multiples of 4, in fixed-rate,
# fixed-precision and fixed-accuracy modes, our stream equals the one zfp
# writes (without its header) byte for byte, zfp decompresses ours and we
# decompress zfp's to the same floats; bad sizes, truncated streams and
# invalid parameters fail with one line, a non-zero exit and no output file.
# usage: zfp_cli_test.sh PATH_TO_VEKDC
set -euo pipefail

. "$(dirname "$0")/cli_lib.sh"
require zfp python3

same() {
    if cmp -s "$2" "$3"; then ok; else fail "$1: $2 and $3 differ"; fi
}
# one_line WHAT: the last command failed with exactly one line on stderr
one_line() {
    if [[ $rc -ne 0 && -n $err && $(printf '%s\n' "$err" | wc -l) -eq 1 ]]; then ok
    else fail "$1: exit $rc, stderr '$err'"; fi
}

# --- test data: little-endian float32 arrays -----------------------------------
python3 - "$TMP" <<'PY'
import math, random, struct, sys
random.seed(7)
def write(name, nx, ny, nz, f):
    vals = [f(x, y, z) for z in range(nz) for y in range(ny) for x in range(nx)]
    open(sys.argv[1] + "/" + name, "wb").write(struct.pack("<%df" % len(vals), *vals))
write("smooth", 40, 36, 20, lambda x, y, z: math.sin(0.1 * x) * math.cos(0.07 * y) + 0.02 * z)
write("odd", 13, 7, 6, lambda x, y, z: math.exp(-0.01 * (x * x + y * y)) * (z - 2.5))
write("noise", 16, 12, 9, lambda x, y, z: random.uniform(-1e5, 1e5))
write("tiny", 1, 1, 1, lambda x, y, z: 3.25)
write("wide", 5, 2, 3, lambda x, y, z: random.choice([0.0, 1e-30, -3e38, 2.0 ** -96, 7.0]))
PY
declare -A dims=([smooth]="40 36 20" [odd]="13 7 6" [noise]="16 12 9" [tiny]="1 1 1" [wide]="5 2 3")
modes=("-r 8:--rate 8" "-r 16:--rate 16" "-r 1.5:--rate 1.5" "-r 0.05:--rate 0.05"
       "-p 16:--precision 16" "-p 5:--precision 5" "-p 32:--precision 32"
       "-a 1e-3:--accuracy 1e-3" "-a 0.5:--accuracy 0.5" "-a 1e-9:--accuracy 1e-9")

for f in smooth odd noise tiny wide; do
    read -r nx ny nz <<<"${dims[$f]}"
    for m in "${modes[@]}"; do
        zm=${m%%:*} vm=${m#*:}
        name="$f $zm"
        # shellcheck disable=SC2086
        zfp -q -f -3 "$nx" "$ny" "$nz" $zm -i "$TMP/$f" -z "$TMP/theirs.zfp"
        # shellcheck disable=SC2086
        run "$VEKDC" compress -F zfp --dims "$nx" "$ny" "$nz" $vm -c "$TMP/$f"
        if [[ $rc -ne 0 ]]; then fail "$name: compress exit $rc: $err"; continue; fi
        cp "$TMP/out" "$TMP/ours.zfp"
        same "$name: stream" "$TMP/ours.zfp" "$TMP/theirs.zfp"
        # zfp decompresses ours; we decompress theirs; the floats agree.
        # shellcheck disable=SC2086
        zfp -q -f -3 "$nx" "$ny" "$nz" $zm -z "$TMP/ours.zfp" -o "$TMP/by_zfp"
        # shellcheck disable=SC2086
        run "$VEKDC" decompress -F zfp --dims "$nx" "$ny" "$nz" $vm -c "$TMP/theirs.zfp"
        if [[ $rc -ne 0 ]]; then fail "$name: decompress exit $rc: $err"; continue; fi
        same "$name: decoded" "$TMP/out" "$TMP/by_zfp"
    done
done

# The error bound of the accuracy mode holds on the file, as the tool reads it.
"$VEKDC" compress -F zfp --dims 40 36 20 --accuracy 1e-3 -c "$TMP/smooth" >"$TMP/s.zfp"
"$VEKDC" decompress -F zfp --dims 40 36 20 --accuracy=1e-3 -c "$TMP/s.zfp" >"$TMP/s.out"
expect_eq "accuracy bound" ok "$(python3 - "$TMP/smooth" "$TMP/s.out" <<'PY'
import struct, sys
a = open(sys.argv[1], "rb").read(); b = open(sys.argv[2], "rb").read()
n = len(a) // 4
x = struct.unpack("<%df" % n, a); y = struct.unpack("<%df" % n, b)
print("ok" if len(a) == len(b) and max(abs(p - q) for p, q in zip(x, y)) <= 1e-3 else "bad")
PY
)"

# File names: FILE -> FILE.zfp -> FILE, input removed unless -k.
cp "$TMP/odd" "$TMP/named"
run "$VEKDC" compress -F zfp --dims 13 7 6 --rate 12 "$TMP/named"
expect_eq "compress by name" "0:" "$rc:$err"
[[ -f $TMP/named.zfp && ! -e $TMP/named ]] && ok || fail "named.zfp replaces named"
run "$VEKDC" decompress -F zfp --dims 13 7 6 --rate 12 -k "$TMP/named.zfp"
expect_eq "decompress by name" "0:" "$rc:$err"
[[ -f $TMP/named && -f $TMP/named.zfp ]] && ok || fail "named restored, named.zfp kept"

# --- bad input --------------------------------------------------------------------
zfp -q -f -3 40 36 20 -r 8 -i "$TMP/smooth" -z "$TMP/r8.zfp"
head -c 1000 "$TMP/r8.zfp" >"$TMP/cut.zfp"
run "$VEKDC" decompress -F zfp --dims 40 36 20 --rate 8 -o "$TMP/cut.out" "$TMP/cut.zfp"
one_line "truncated stream"
[[ ! -e $TMP/cut.out ]] && ok || fail "truncated stream left an output"
[[ -z $(find "$TMP" -name '*.tmp*' -o -name '.cut*') ]] && ok || fail "temporary left behind"
run "$VEKDC" decompress -F zfp --dims 40 36 10 --rate 8 -c "$TMP/r8.zfp"
one_line "stream longer than the dims"
run "$VEKDC" compress -F zfp --dims 40 36 21 --rate 8 -o "$TMP/bad.zfp" "$TMP/smooth"
one_line "input size does not match the dims"
[[ ! -e $TMP/bad.zfp ]] && ok || fail "size mismatch left an output"
: >"$TMP/empty"
run "$VEKDC" decompress -F zfp --dims 4 4 4 --rate 8 -c "$TMP/empty"
one_line "empty stream"
for args in "--rate 8" "--dims 4 4 4" "--dims 4 4 4 --rate 8 --precision 8" "--dims 0 4 4 --rate 8" \
            "--dims 4 4 x --rate 8" "--dims 4 4 4 --rate -1" "--dims 4 4 4 --rate 65" \
            "--dims 4 4 4 --precision 0" "--dims 4 4 4 --precision 2.5" "--dims 4 4 4 --accuracy 0" \
            "--dims 4 4 4 --accuracy nan" "--dims 4 4 4 --rate 8 --bogus" "--dims 4 4 4 --rate 8 -l 3" \
            "--dims 4 4"; do
    # shellcheck disable=SC2086
    run "$VEKDC" compress -F zfp $args -c "$TMP/tiny"
    one_line "compress $args"
    expect_eq "compress $args: usage exit" 2 "$rc"
done
run "$VEKDC" decompress -F zfp --dims 4 4 4 -c "$TMP/r8.zfp"
one_line "decompress without a mode"

# The benchmark's ZFP rows on a given array (streams checked against libzfp
# before timing), and its refusal of an array of the wrong size.
run "$VEKDC" bench --quick --only ZFP --floats 13 7 6 "$TMP/odd"
if [[ $rc -eq 0 && $(grep -c '^ZFP \(en\|de\)code' "$TMP/out") -ge 8 ]]; then ok
else fail "bench --floats: exit $rc, $err"; fi
run "$VEKDC" bench --quick --only ZFP --floats 13 7 7 "$TMP/odd"
one_line "bench --floats with the wrong dimensions"

finish
