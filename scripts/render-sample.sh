#!/usr/bin/env bash
# Installs what is missing, builds the engine and its command line, and renders
# the showcase template into out/showcase.mp4. Extra arguments go to
# quorvane-render (e.g. --snapshot-dir out/shot- --snapshot-frames 0,60).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target quorvane-render
mkdir -p out
./build/examples/quorvane-render/quorvane-render examples/templates/showcase out/showcase.mp4 "$@"
echo "render-sample: wrote out/showcase.mp4" >&2
