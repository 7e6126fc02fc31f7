#!/usr/bin/env bash
# Builds the project, then runs the maintenance program qes_omp and the location engine vorlen
# on the example /qvx tree (site/) in a sandbox of their own (network, mount, IPC and PID
# namespaces; see tools/sandbox), shows the power-on sequence completing, and stops both.
# Needs root (or sudo) for the sandbox.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" = "--in-sandbox" ]; then
  bin=$2
  wait_for() {  # file text seconds
    local i
    for ((i = 0; i < $3 * 10; i++)); do
      grep -qF "$2" "$1" 2>/dev/null && return 0
      sleep 0.1
    done
    return 1
  }
  stop() {  # log file: the daemon's pid is on its first line
    local pid
    pid=$(head -n 1 "$1" 2>/dev/null | awk '{print $1}')
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  }
  omp_log=/qvx/omp/log/QES_OMP.log
  zub_log=/qvx/zub/log/uwb_zub.log
  ln -sf "$bin/qes_omp" /qvx/omp/qes_omp
  ln -sf "$bin/vorlen" /qvx/zub/vorlen
  ok=0
  echo "== starting qes_omp (module 1, port 20010)"
  /qvx/omp/qes_omp || true
  if wait_for "$omp_log" "Power on success" 15; then
    echo "== starting vorlen (module 11, port 20110)"
    /qvx/zub/vorlen || true
    wait_for "$zub_log" "Power on success" 60 && ok=1
  fi
  echo "== $omp_log (power-on)"
  grep -E "begin to power on|SCS|power on|Power on" "$omp_log" || true
  echo "== $zub_log (power-on)"
  grep -E "begin to power on|load .*omp cfg|REGISTER_ACK|No OMP|SCS got|send power on|Power on" "$zub_log" || true
  zub_trace=/qvx/zub/log/zub/division1.log
  if [ "$ok" = 1 ]; then
    wait_for "$zub_trace" "Jobs init OK!" 15 || ok=0
    echo "== $zub_trace (configuration and start handshake)"
    grep -E "AreaID|SubArea|Point\(|\|-------|INIT_START|process init OK|Jobs init OK" "$zub_trace" || true
  fi
  if [ "$ok" = 1 ]; then
    sleep 4  # one more heartbeat registration, answered by qes_omp
    echo "== power-on complete; stopping both programs"
  else
    echo "== power-on did not complete; full logs follow"
    cat "$omp_log" "$zub_log" 2>/dev/null || true
  fi
  stop "$zub_log"
  stop "$omp_log"
  tail -n 3 "$zub_log" "$omp_log" 2>/dev/null || true
  [ "$ok" = 1 ]
  exit
fi

cd "$root"
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$(nproc)"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo "$root/build/release/bin/sandbox" --qvx "$root/site" -- bash "$root/scripts/run-site.sh" --in-sandbox "$root/build/release/bin"
