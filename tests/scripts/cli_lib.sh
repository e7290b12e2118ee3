# Shared prelude of the tool's end-to-end scripts, sourced with the script's
# own arguments (PATH_TO_VEKDC): checks them, makes a scratch directory and
# defines the counters and helpers. Scripts end with `finish`.
#   require TOOL...      exit 2 unless every command is on the PATH
#   ok / fail MESSAGE    count a passed / failed check
#   expect_eq WHAT EXPECTED ACTUAL
#   run CMD...           run CMD with stdout in $TMP/out, stderr in $TMP/err
#                        and $err, the exit status in $rc (set -e safe); with
#                        CAPTURE_OUT=1 also stdout (NULs dropped) in $out
if [[ $# -ne 1 ]]; then
    echo "usage: $0 PATH_TO_VEKDC" >&2
    exit 2
fi
VEKDC=$1
[[ -x $VEKDC ]] || { echo "not executable: $VEKDC" >&2; exit 2; }
# shellcheck disable=SC2034  # used by the sourcing scripts
ROOT=$(cd "$(dirname "$0")/../.." && pwd)

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

passed=0
failed=0
ok() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAIL: $*" >&2; }
expect_eq() {
    if [[ "$2" == "$3" ]]; then ok; else fail "$1: expected '$2', got '$3'"; fi
}
run() {
    rc=0
    "$@" >"$TMP/out" 2>"$TMP/err" || rc=$?
    if [[ ${CAPTURE_OUT:-0} == 1 ]]; then out=$(tr -d '\0' <"$TMP/out"); fi
    err=$(cat "$TMP/err")
}
require() {
    local tool
    for tool; do
        command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup.sh installs it)" >&2; exit 2; }
    done
}
finish() {
    echo "$passed passed, $failed failed"
    [[ $failed -eq 0 ]]
}

# expect_clean_failure NAME FILE: a copy of FILE named x.$SUFFIX, in a
# directory of its own, fails to decompress with exit 1 and one message line
# naming it, leaves nothing beside it, and fails with -t and -c too. The
# message stays in $last_err for expect_message.
n_case=0
expect_clean_failure() {
    local name=$1
    n_case=$((n_case + 1))
    local dir="$TMP/bad$n_case"
    mkdir "$dir"
    cp "$2" "$dir/x.$SUFFIX"
    run "$VEKDC" decompress "$dir/x.$SUFFIX"
    local lines
    lines=$(wc -l <"$TMP/err")
    if [[ $rc -eq 1 && $lines -eq 1 && $err == "vekdc: $dir/x.$SUFFIX: "* ]]; then ok; else
        fail "$name: exit $rc, message '$err'"; fi
    expect_eq "$name: directory afterwards" "x.$SUFFIX" "$(ls -A "$dir" | tr '\n' ' ' | sed 's/ $//')"
    run "$VEKDC" decompress -t "$dir/x.$SUFFIX"
    expect_eq "$name: -t exit" 1 "$rc"
    run "$VEKDC" decompress -c "$dir/x.$SUFFIX"
    expect_eq "$name: -c exit" 1 "$rc"
    last_err=$err
}
# expect_message NAME TEXT: the last failure's message contains TEXT
expect_message() {
    if [[ $last_err == *"$2"* ]]; then ok; else fail "$1: message '$last_err' lacks '$2'"; fi
}

# size_of FILE: its size in bytes
size_of() { stat -c %s "$1"; }
# hex_at FILE OFFSET COUNT: the bytes as lowercase hex without spaces
hex_at() { od -An -tx1 -j "$2" -N "$3" "$1" | tr -d ' \n'; }
# flip FILE OFFSET OUT: copy of FILE with the byte at OFFSET inverted
# (a negative OFFSET counts from the end)
flip() {
    python3 - "$@" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[int(sys.argv[2])] ^= 0xFF
open(sys.argv[3], "wb").write(data)
PY
}
# sources: the library's own source text, a realistic text corpus
# prandom N SEED: N pseudo-random bytes, the same on every run.
prandom() {
    python3 -c "import random, sys; r = random.Random($2); sys.stdout.buffer.write(r.randbytes($1))"
}
sources() { cat "$ROOT"/src/*/*.cpp "$ROOT"/src/*/*.h "$ROOT"/include/*.h; }
