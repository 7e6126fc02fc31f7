#!/usr/bin/env bash
# Builds everything and runs every test: once in the normal build, once with
# AddressSanitizer and UndefinedBehaviorSanitizer; then the tests labelled `concurrency` in a
# ThreadSanitizer build. The one test command of the project.
#   scripts/test.sh            all three builds
#   scripts/test.sh --quick    the normal build only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

jobs=$(nproc)
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
# run_build DIR [-L LABEL --] [cmake options...]: with a label, only the tests of that label are
# built (target vorlen_<label>_tests) and run.
run_build() {
  local dir=$1; shift
  local tests=() target=()
  if [ "${1:-}" = "-L" ]; then
    tests=(-L "$2"); target=(--target "vorlen_$2_tests"); shift 3
  fi
  cmake -S . -B "$dir" -G Ninja -DVORLEN_WERROR=ON "${launcher[@]}" "$@"
  cmake --build "$dir" -j "$jobs" "${target[@]}"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300 "${tests[@]}")
}

run_build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${1:-}" != "--quick" ]; then
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  run_build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DVORLEN_SANITIZE=ON -DVORLEN_BENCHMARKS=OFF

  # Races are mended, not suppressed: the file names only benign reports inside system libraries.
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp"
  run_build build/tsan -L concurrency -- -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLEN_SANITIZE=thread \
    -DVORLEN_BENCHMARKS=OFF
fi
