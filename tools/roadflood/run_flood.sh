#!/usr/bin/env bash
# Floods of valid reports against the engine on the example site, in a sandbox of their own
# (qes_omp and vorlen as tools/roadbench/run_steps.sh brings them up, then roadflood; see
# src/roadflood_main.cpp for the figures printed). Needs root (or sudo).
#   bash tools/roadflood/run_flood.sh [BUILD_DIR] [SEQUENCE] [ROADFLOOD OPTIONS...]
#   e.g. run_flood.sh build/release --flood arrivals:150000 --flood calibration:400000 --during 15
#        run_flood.sh build/release refused_then_flood
# Named sequences (options may follow and add to them):
#   refused_then_flood  one arrival for each of 20,000 new tag ids, and 5 s later 200 other new
#                       tags from four anchors as fast as the links take them for 15 s: the
#                       tag records are full, so the flood's tags are refused at the bound
#   flood_alone         the 200-tag flood alone, its tags taking records
#   twice, five_times   200 tags from four anchors at twice and five times the rate the road
#                       handles without loss, through the simulator, for 15 s
# The quiet tag blinks throughout. FLOOD_RUNS=N repeats it all N times, each on a fresh site.
# ROADBENCH_LOG_LEVEL=N: the engine's trace level (2 by default here); ROADBENCH_KEEP_LOGS=DIR
# keeps the engine's logs.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
shift || true
sequence=()
case "${1:-}" in
  refused_then_flood) sequence=(--before 3 --flood new_tags:40000:1:20000/0.5/5 --flood arrivals:max:4:200:20000/15/6); shift ;;
  flood_alone) sequence=(--before 3 --flood arrivals:max:4:200/15/6); shift ;;
  twice) sequence=(--before 3 --flood arrivals:450000/15/6); shift ;;
  five_times) sequence=(--before 3 --flood arrivals:1125000/15/6); shift ;;
esac
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
for ((run = 1; run <= ${FLOOD_RUNS:-1}; run++)); do
  $sudo env ROADBENCH_LOG_LEVEL="${ROADBENCH_LOG_LEVEL:-2}" ROADBENCH_KEEP_LOGS="${ROADBENCH_KEEP_LOGS:-}" \
    "$build/bin/sandbox" --qvx "$root/site" -- \
    bash "$root/tools/roadbench/run_steps.sh" --in-sandbox "$build/bin" roadflood \
    --hall "$root/tools/anchorsim/sites/hall.site" "${sequence[@]}" "$@" || true
done
