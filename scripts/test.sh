#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: the whole suite in a
# release build and again under AddressSanitizer and UndefinedBehaviorSanitizer,
# the thread tests under ThreadSanitizer, and each fuzz target for a bounded
# number of runs.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

passed=0
failed=0
skipped=0
# The closing line: what ran, what failed, and what skipped itself (tests of
# footage that is absent, of windows without Xvfb); ctest counts the skipped
# among the passed.
report() { echo "tests: $passed passed, $failed failed, $skipped skipped"; }
run_suite() {
  local preset=$1; shift
  echo "== $preset ==" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  local log status=0
  log=$(mktemp)
  ctest --preset "$preset" "$@" 2>&1 | tee "$log" || status=$?
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  local skips
  skips=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log" || true)
  rm -f "$log"
  if [[ $summary =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1] - skips))
    skipped=$((skipped + skips))
  fi
  if ((status != 0)); then
    report
    exit "$status"
  fi
}

run_suite default
run_suite asan
run_suite tsan -R 'Concurrency'

echo "== fuzz ==" >&2
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in motion_analysis plugin_state project_file; do
  corpus=$(mktemp -d)
  cp fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  build/fuzz/fuzz/fuzz_"$target" -runs="${FUZZ_RUNS:-200000}" -max_len=4096 "$corpus" 2>&1 | tail -n 2
  rm -rf "$corpus"
done
report
