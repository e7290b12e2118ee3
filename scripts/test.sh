#!/bin/bash
# The whole test suite: x86-64, i686 and sanitizer builds with every test,
# then the fuzz build with a short run of every fuzz target. Warnings are
# errors in every build. Prints ctest's summary per build and a total line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

fuzz_seconds=${VEKDC_FUZZ_SECONDS:-10}
passed=0 failed=0
run_preset() {
  local preset=$1
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset: test"
  local log
  log=$(mktemp)
  if ctest --preset "$preset" 2>&1 | tee "$log" | grep -vE '^ +Start |Test +#[0-9]+: .* Passed'; then :; fi
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" || true)
  [ -n "$summary" ] || { echo "$preset: no test summary"; exit 1; }
  local total fails
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<< "$summary")
  fails=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<< "$summary")
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  rm -f "$log"
}

run_preset default
run_preset i686
run_preset sanitize

echo "=== fuzz: configure and build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in build/fuzz/fuzz/*_fuzzer; do
  name=$(basename "$target")
  work=$(mktemp -d)
  echo "=== fuzz: $name for ${fuzz_seconds}s"
  if "$target" -max_total_time="$fuzz_seconds" -max_len=100000 -print_final_stats=1 \
       "$work" "fuzz/corpus/$name" > "$work.log" 2>&1; then
    grep -E 'stat::number_of_executed_units|Done' "$work.log" | tail -2
    passed=$((passed + 1))
  else
    tail -40 "$work.log"
    echo "fuzz target $name failed"
    failed=$((failed + 1))
  fi
  rm -rf "$work" "$work.log"
done

echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
