#!/usr/bin/env bash
# The example site end to end: installs what the build needs, builds, then in a sandbox of its
# own (network, mount, IPC and PID namespaces; see tools/sandbox) runs the maintenance program
# qes_omp and the location engine vorlen on the example /qvx tree (site/), the anchor simulator
# on the same hall (tools/anchorsim/sites/hall.site), and a client that configures the anchors
# through the control port ("anchor cfg" built from the site file, then "rtls start") and prints
# the positions streaming from the tag-location port with their error against the simulator's
# truth. After SECONDS (default 60; 0: until Ctrl-C) it draws every tag's track over its truth
# into build/run-site/tracks.png with gnuplot.
#
#   bash scripts/run-site.sh [SECONDS]
#
# Needs root (or sudo) for the sandbox.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" = "--in-sandbox" ]; then
  bin=$2 out=$3 seconds=$4
  site_file="$root/tools/anchorsim/sites/hall.site"
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
  trap 'true' INT  # Ctrl-C ends the client; the plot and the shutdown still run
  omp_log=/qvx/omp/log/QES_OMP.log
  zub_log=/qvx/zub/log/uwb_zub.log
  zub_trace=/qvx/zub/log/zub/division1.log
  ln -sf "$bin/qes_omp" /qvx/omp/qes_omp
  ln -sf "$bin/vorlen" /qvx/zub/vorlen
  echo "== starting qes_omp (module 1, port 20010)"
  /qvx/omp/qes_omp || true
  if ! wait_for "$omp_log" "Power on success" 15; then
    echo "== qes_omp did not power on"; cat "$omp_log" || true; exit 1
  fi
  echo "== starting vorlen (module 11, port 20110)"
  /qvx/zub/vorlen || true
  if ! wait_for "$zub_trace" "Jobs init OK!" 60; then
    echo "== vorlen did not start; logs follow"; cat "$zub_log" "$zub_trace" 2>/dev/null || true
    stop "$omp_log"; exit 1
  fi
  echo "== the engine's start, from its trace log: the area dump, the start passes, the answers"
  grep -E "AreaID|SubArea|Point\(|-------" "$zub_trace" | sed 's/^/   /' || true
  echo "   start events sent: $(grep -c 'ZUB_EV_CTRL_XX_INIT_START) is called' "$zub_trace")," \
    "jobs answered: $(grep -c 'process init OK' "$zub_trace")"
  grep -m 1 -E "All [0-9]+ Jobs init OK!" "$zub_trace" | sed 's/^/   /' || true
  echo "== engine jobs started; starting the anchor simulator on $(basename "$site_file")"
  "$bin/anchorsim" --site "$site_file" --truth "$out/truth.txt" --commands "$out/commands.txt" \
    > "$out/anchorsim.log" 2>&1 &
  sim=$!
  echo "== configuring through the control port 3334, positions from port 12345"
  [ "$seconds" = 0 ] && echo "   (Ctrl-C to stop)"
  rc=0
  "$bin/roadclient" --site "$site_file" --truth "$out/truth.txt" --duration "$seconds" \
    --tracks "$out/tracks.dat" || rc=$?
  kill -TERM "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  cp "$zub_log" "$zub_trace" "$out/" 2>/dev/null || true
  cp /qvx/zub/log/tag_all_statistics.txt "$out/" 2>/dev/null || true
  stop "$zub_log"
  stop "$omp_log"
  exit "$rc"
fi

seconds=${1:-60}
cd "$root"
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$(nproc)"
out="$root/build/run-site"
mkdir -p "$out"
rm -f "$out/tracks.dat" "$out/tracks.png" "$out/truth.txt"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
trap 'true' INT
rc=0
$sudo "$root/build/release/bin/sandbox" --qvx "$root/site" -- \
  bash "$root/scripts/run-site.sh" --in-sandbox "$root/build/release/bin" "$out" "$seconds" || rc=$?
if [ -s "$out/tracks.dat" ]; then
  tags=$(awk '!/^#/ && NF { print $1 }' "$out/tracks.dat" | uniq)
  plot="" i=0
  for t in $tags; do
    plot+="'$out/tracks.dat' index $i using 4:5 with lines lw 2 lc $((i + 1)) title 'truth $t', "
    plot+="'$out/tracks.dat' index $i using 2:3 with points pt 7 ps 0.4 lc $((i + 1)) title 'records $t', "
    i=$((i + 1))
  done
  gnuplot <<GP
set terminal pngcairo size 1200,860
set output '$out/tracks.png'
set title 'Example site: tag tracks over their truth'
set xlabel 'x (m)'; set ylabel 'y (m)'
set xrange [-1:31]; set yrange [-1:21]; set size ratio -1
set key outside right
set object 1 rect from 0,0 to 30,20 fs empty border lc rgb 'gray'
plot ${plot%, }
GP
  echo "== tracks drawn: $out/tracks.png"
else
  echo "== no positions were received; logs in $out"
fi
exit "$rc"
