#!/usr/bin/env bash
# The engine against a misbehaving peer, one sandboxed road per run (qes_omp and vorlen on the
# example site with two extra anchors, a0b10000000000aa at 127.0.0.20 and a0b10000000000ab at
# 127.0.0.21, for the noise and anchor flood runs), printing hostilebench's result line for each.
# Needs root (or sudo).
#   bash tools/hostile/run_hostile.sh [BUILD_DIR] [RUN...]
# RUN is flood:none, flood:slow, flood:full, garbage:MB, report-noise:MB,
# anchor-flood:cfg|cfg-deaf|power|range, forged:KIND (recon-start, recon-link, recon-rcvlen,
# socket, position, control) or trace-file:fifo|zero|blanks:MB; the default runs the floods, the
# noise and the anchor floods. HOSTILE_SECONDS=S floods for S seconds (default 10; the anchor
# floods 15 for cfg and cfg-deaf). HOSTILE_LOG_LEVEL=N runs the engine at that trace level
# (default 2). HOSTILE_PROGRAMS=DIR takes qes_omp and vorlen from DIR (another build's bin, for
# figures before a change) and hostilebench from BUILD_DIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

if [ "${1:-}" = "--in-sandbox" ]; then
  bin=$2 kind=$3 arg=$4 programs=${5:-$2}
  wait_for() {  # file text seconds
    for ((i = 0; i < $3 * 10; i++)); do grep -qF "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    return 1
  }
  ln -sf "$programs/qes_omp" /qvx/omp/qes_omp
  ln -sf "$programs/vorlen" /qvx/zub/vorlen
  sed -i "s/logLevel=\"[0-9]*\"/logLevel=\"${HOSTILE_LOG_LEVEL:-2}\"/" /qvx/zub/vm_zub.xml
  printf 'a0b10000000000aa 127.0.0.20\na0b10000000000ab 127.0.0.21\n' >> /qvx/zub/dns_zub.cfg
  /qvx/omp/qes_omp || true
  wait_for /qvx/omp/log/QES_OMP.log "Power on success" 15 || { echo "qes_omp did not power on"; exit 1; }
  /qvx/zub/vorlen || true
  if [ "$kind" = flood ]; then
    "$bin/hostilebench" --hall "$root/tools/anchorsim/sites/hall.site" --flood "$arg" --seconds "${HOSTILE_SECONDS:-10}"
  elif [ "$kind" = anchor-flood ]; then
    seconds=${HOSTILE_SECONDS:-10}
    case "$arg" in cfg|cfg-deaf) seconds=${HOSTILE_SECONDS:-15} ;; esac
    "$bin/hostilebench" --hall "$root/tools/anchorsim/sites/hall.site" --anchor-flood "$arg" --seconds "$seconds"
  else
    "$bin/hostilebench" --hall "$root/tools/anchorsim/sites/hall.site" "--$kind" "$arg"
  fi
  exit
fi

build=$(cd "${1:-$root/build/release}" && pwd)
shift || true
runs=("$@")
[ ${#runs[@]} -gt 0 ] || runs=(flood:none flood:slow flood:full garbage:200 report-noise:50 anchor-flood:cfg
  anchor-flood:cfg-deaf anchor-flood:power anchor-flood:range)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
for r in "${runs[@]}"; do
  $sudo env HOSTILE_LOG_LEVEL="${HOSTILE_LOG_LEVEL:-}" HOSTILE_SECONDS="${HOSTILE_SECONDS:-}" \
    "$build/bin/sandbox" --qvx "$root/site" -- \
    bash "$root/tools/hostile/run_hostile.sh" --in-sandbox "$build/bin" "${r%%:*}" "${r#*:}" \
    "${HOSTILE_PROGRAMS:-$build/bin}" || true
done
