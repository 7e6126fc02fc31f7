#!/usr/bin/env bash
# Floods of valid reports against the engine on the example site, in a sandbox of their own
# (qes_omp and vorlen as tools/roadbench/run_steps.sh brings them up, then roadflood; see
# src/roadflood_main.cpp for the figures printed). Needs root (or sudo).
#   bash tools/roadflood/run_flood.sh [BUILD_DIR] [ROADFLOOD OPTIONS...]
#   e.g. run_flood.sh build/release --flood arrivals:150000 --flood calibration:400000 --during 15
# ROADBENCH_LOG_LEVEL=N: the engine's trace level (2 by default here); ROADBENCH_KEEP_LOGS=DIR
# keeps the engine's logs.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
shift || true
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo env ROADBENCH_LOG_LEVEL="${ROADBENCH_LOG_LEVEL:-2}" ROADBENCH_KEEP_LOGS="${ROADBENCH_KEEP_LOGS:-}" \
  "$build/bin/sandbox" --qvx "$root/site" -- \
  bash "$root/tools/roadbench/run_steps.sh" --in-sandbox "$build/bin" roadflood \
  --hall "$root/tools/anchorsim/sites/hall.site" "$@"
