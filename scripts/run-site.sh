#!/usr/bin/env bash
# Builds the project and runs the main job on the example site.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$(nproc)"
echo "Built: $(ls build/release/bin 2>/dev/null | tr '\n' ' ')"
echo "The site run starts qes_omp, then vorlen, on the example /qvx tree in a sandbox of their own."
