#!/usr/bin/env bash
# Runs one fuzz target for a bounded time or number of inputs.
#   scripts/fuzz.sh NAME SECONDS [libFuzzer options...]
#   scripts/fuzz.sh NAME --runs N [libFuzzer options...]
#   scripts/fuzz.sh --list
# e.g. scripts/fuzz.sh platform_console_fuzz 1200 -runs=10000000 (whichever limit comes first).
# Builds the clang/libFuzzer tree build/fuzz when needed, starts from the committed corpus and
# keeps what the run finds in build/fuzz-scratch/NAME (never in the source tree). A crash input
# is written to build/fuzz-scratch/NAME-crashes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=build/fuzz
# Configured every time (quick once it exists), so targets added since are listed.
if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DVORLEN_FUZZ=ON -DVORLEN_BENCHMARKS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >&2
else
  cmake -S . -B "$build" >/dev/null
fi

# Every fuzz target and its committed corpus, as the configure step listed them.
targets() { cat "$build/fuzz_targets.txt"; }

if [ "${1:-}" = "--list" ]; then
  targets | awk '{print $1}'
  exit 0
fi
if [ $# -lt 2 ]; then
  echo "usage: $0 NAME SECONDS | $0 NAME --runs N | $0 --list" >&2
  exit 2
fi

name=$1
shift
if [ "$1" = "--runs" ]; then
  limit=(-runs="${2:?--runs needs a count}")
  shift 2
else
  limit=(-max_total_time="$1")
  shift
fi
limit+=("$@")

corpus=$(targets | awk -v n="$name" '$1 == n {print $2; exit}')
if [ -z "$corpus" ]; then
  echo "fuzz.sh: no fuzz target named $name; known targets:" >&2
  targets | awk '{print "  " $1}' >&2
  exit 2
fi

cmake --build "$build" --target "$name" -j "$(nproc)"

scratch=build/fuzz-scratch/$name
crashes=build/fuzz-scratch/$name-crashes
mkdir -p "$scratch" "$crashes"
# Targets that must write files do it in a private folder of $TMPDIR: memory is fastest.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

set +e
"$build/bin/$name" "${limit[@]}" -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$crashes/" \
  "$scratch" "$corpus"
rc=$?
set -e

echo
echo "New corpus entries are in $scratch (the committed corpus $corpus was only read)."
if [ -n "$(ls -A "$crashes" 2>/dev/null)" ]; then
  echo "Findings are in $crashes. To keep one, minimise it and commit it next to the seeds:"
  echo "  $build/bin/$name -minimize_crash=1 -runs=10000 -exact_artifact_path=$corpus/<name> $crashes/<file>"
  echo "then mend the fault; the normal and sanitizer builds replay $corpus (ctest -R $name)."
else
  echo "To keep an input of $scratch, copy it into $corpus and commit it (keep the corpus small)."
fi
exit $rc
