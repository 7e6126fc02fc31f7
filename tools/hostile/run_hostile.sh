#!/usr/bin/env bash
# The engine against a misbehaving peer, one sandboxed road per run (qes_omp and vorlen on the
# example site with one extra anchor, a0b10000000000aa at 127.0.0.20, for the noise runs),
# printing hostilebench's result line for each. Needs root (or sudo).
#   bash tools/hostile/run_hostile.sh [BUILD_DIR] [RUN...]
# RUN is flood:none, flood:slow, flood:full, garbage:MB, report-noise:MB, forged:KIND (recon-start,
# recon-link, recon-rcvlen, socket, position, control) or trace-file:fifo|zero|blanks:MB; the
# default runs the floods and the noise. HOSTILE_LOG_LEVEL=N runs the engine at that trace level
# (default 2); HOSTILE_PROGRAMS=DIR takes qes_omp and vorlen from DIR (another build's bin, to
# compare) and hostilebench from BUILD_DIR.
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
  echo "a0b10000000000aa 127.0.0.20" >> /qvx/zub/dns_zub.cfg
  /qvx/omp/qes_omp || true
  wait_for /qvx/omp/log/QES_OMP.log "Power on success" 15 || { echo "qes_omp did not power on"; exit 1; }
  /qvx/zub/vorlen || true
  if [ "$kind" = flood ]; then
    "$bin/hostilebench" --hall "$root/tools/anchorsim/sites/hall.site" --flood "$arg" --seconds 10
  else
    "$bin/hostilebench" --hall "$root/tools/anchorsim/sites/hall.site" "--$kind" "$arg"
  fi
  exit
fi

build=$(cd "${1:-$root/build/release}" && pwd)
shift || true
runs=("$@")
[ ${#runs[@]} -gt 0 ] || runs=(flood:none flood:slow flood:full garbage:200 report-noise:50)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
for r in "${runs[@]}"; do
  $sudo env HOSTILE_LOG_LEVEL="${HOSTILE_LOG_LEVEL:-}" "$build/bin/sandbox" --qvx "$root/site" -- \
    bash "$root/tools/hostile/run_hostile.sh" --in-sandbox "$build/bin" "${r%%:*}" "${r#*:}" \
    "${HOSTILE_PROGRAMS:-$build/bin}" || true
done
