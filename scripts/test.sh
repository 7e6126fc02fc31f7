#!/usr/bin/env bash
# Builds everything and runs every test: once in the normal build, once with
# AddressSanitizer and UndefinedBehaviorSanitizer. The one test command of the project.
#   scripts/test.sh            both builds
#   scripts/test.sh --quick    the normal build only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

jobs=$(nproc)
run_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DVORLEN_WERROR=ON "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300)
}

run_build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${1:-}" != "--quick" ]; then
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  run_build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DVORLEN_SANITIZE=ON -DVORLEN_BENCHMARKS=OFF
fi
