#!/usr/bin/env bash
# The throughput benchmark: raises tags x blink rate step by step, one sandboxed road per step
# (qes_omp and vorlen on the example site, then roadbench with the simulator and a client), and
# prints a result line for each (see src/roadbench_main.cpp). Needs root (or sudo).
#   bash tools/roadbench/run_steps.sh [BUILD_DIR] [STEP...]    STEP = TAGS:RATE
# ROADBENCH_LOG_LEVEL=N runs the engine with that trace level instead of the example site's
# own (3 traces every report and costs more than the road itself; 2 keeps the events).
# ROADBENCH_KEEP_LOGS=DIR keeps a copy of the engine's logs of the (last) run there.
# Inside a sandbox, `run_steps.sh --in-sandbox BIN TOOL ARGS...` brings the programs up on the
# example site and then runs BIN/TOOL with ARGS (tools/roadflood/run_flood.sh uses it).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

if [ "${1:-}" = "--in-sandbox" ]; then
  bin=$2 tool=$3
  shift 3
  wait_for() {  # file text seconds
    for ((i = 0; i < $3 * 10; i++)); do grep -qF "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    return 1
  }
  ln -sf "$bin/qes_omp" /qvx/omp/qes_omp
  ln -sf "$bin/vorlen" /qvx/zub/vorlen
  if [ -n "${ROADBENCH_LOG_LEVEL:-}" ]; then
    sed -i "s/logLevel=\"[0-9]*\"/logLevel=\"$ROADBENCH_LOG_LEVEL\"/" /qvx/zub/vm_zub.xml
  fi
  /qvx/omp/qes_omp || true
  wait_for /qvx/omp/log/QES_OMP.log "Power on success" 15 || { echo "qes_omp did not power on"; exit 1; }
  /qvx/zub/vorlen || true
  rc=0
  "$bin/$tool" "$@" || rc=$?
  if [ -n "${ROADBENCH_KEEP_LOGS:-}" ]; then
    mkdir -p "$ROADBENCH_KEEP_LOGS" && cp -r /qvx/zub/log/. "$ROADBENCH_KEEP_LOGS/"
  fi
  exit $rc
fi

build=$(cd "${1:-$root/build/release}" && pwd)
shift || true
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(100:5 1000:5 2000:5 5000:5 10000:5 20000:5)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
for s in "${steps[@]}"; do
  $sudo env ROADBENCH_LOG_LEVEL="${ROADBENCH_LOG_LEVEL:-}" ROADBENCH_KEEP_LOGS="${ROADBENCH_KEEP_LOGS:-}" "$build/bin/sandbox" --qvx "$root/site" -- \
    bash "$root/tools/roadbench/run_steps.sh" --in-sandbox "$build/bin" roadbench \
    --hall "$root/tools/anchorsim/sites/hall.site" --tags "${s%%:*}" --rate "${s##*:}" --measure 10 || true
done
