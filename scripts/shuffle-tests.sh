#!/usr/bin/env bash
# Runs every test binary of a build as one process (no filter), then shuffled under three seeds,
# and prints one row per binary: whole, seed 1, seed 2, seed 3 (pass/FAIL/TIME). A test that
# passes only alone, or only in the declared order, shows up here and not in ctest, which starts
# each test in its own process. Unit binaries run first, the system binaries (bin/system_*,
# which start the programs in sandboxes) after them.
#   scripts/shuffle-tests.sh [BUILD_DIR] [REGEX]
#   JOBS=4 TIMEOUT=900 KEEP=/tmp/logs scripts/shuffle-tests.sh build/release 'engine_core'
# The logs of failed runs stay in KEEP (default: a fresh temporary folder, named at the end).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
filter=${2:-.}
jobs=${JOBS:-4}
limit=${TIMEOUT:-900}
logs=${KEEP:-$(mktemp -d /tmp/shuffle-tests.XXXXXX)}
mkdir -p "$logs"

# run_one BINARY MODE: runs one binary in one mode, writes pass/FAIL/TIME to its result file.
run_one() {
  local bin=$1 mode=$2 name args=() rc
  name=$(basename "$bin")
  [ "$mode" = whole ] || args=(--gtest_shuffle "--gtest_random_seed=${mode#seed}")
  timeout -k 10 "$limit" "$bin" "${args[@]}" >"$logs/$name.$mode.log" 2>&1
  rc=$?
  case $rc in
    0) echo pass ;;
    124|137) echo TIME ;;
    *) echo FAIL ;;
  esac >"$logs/$name.$mode.result"
  [ "$rc" = 0 ] && rm -f "$logs/$name.$mode.log"
}
export -f run_one
export logs limit

# run_set BINARY...: every binary in every mode, JOBS at a time.
run_set() {
  local bin mode
  for bin in "$@"; do
    for mode in whole seed1 seed2 seed3; do
      printf '%s %s\n' "$bin" "$mode"
    done
  done | xargs -P "$jobs" -L 1 bash -c 'run_one "$0" "$1"'
}

mapfile -t all < <(ls "$build"/bin/*_tests | grep -E -- "$filter")
unit=() sys=()
for bin in "${all[@]}"; do
  case $(basename "$bin") in
    system_*) sys+=("$bin") ;;
    *) unit+=("$bin") ;;
  esac
done
[ ${#unit[@]} -gt 0 ] && run_set "${unit[@]}"
[ ${#sys[@]} -gt 0 ] && run_set "${sys[@]}"

printf '%-40s %-6s %-6s %-6s %-6s\n' binary whole seed1 seed2 seed3
failed=0
for bin in "${unit[@]}" "${sys[@]}"; do
  name=$(basename "$bin")
  row=()
  for mode in whole seed1 seed2 seed3; do
    r=$(cat "$logs/$name.$mode.result" 2>/dev/null || echo '?')
    [ "$r" = pass ] || failed=1
    row+=("$r")
  done
  printf '%-40s %-6s %-6s %-6s %-6s\n' "$name" "${row[@]}"
done
echo "logs of failed runs: $logs"
exit $failed
