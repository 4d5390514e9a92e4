#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs the main job: the layers
# of a sample part are packed into a job file, described, and unpacked again as
# the printer would project them.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSORA_BUILD_TESTS=OFF
cmake --build build -j "$(nproc)"

work=build/demo
rm -rf "$work"
mkdir -p "$work"
build/bin/ssj-sample-layers "$work/layers" --count 60
build/bin/tessora-cli ssj pack "$work"/layers/layer_*.png -o "$work/sample-part.ssj" --thickness 0.05 \
    --description "sample part, 60 layers of 50 microns"
build/bin/tessora-cli ssj info "$work/sample-part.ssj"
build/bin/tessora-cli ssj info "$work/sample-part.ssj" --json
build/bin/tessora-cli ssj export "$work/sample-part.ssj" "$work/projected"
echo "demo done: job $work/sample-part.ssj, projected layers in $work/projected"
