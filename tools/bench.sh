#!/usr/bin/env bash
# Builds a plain Release tree into build-release/ and runs the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSORA_BUILD_TESTS=OFF
cmake --build build-release -j "$(nproc)"
build-release/bin/bench_ssj_codec
bash bench/vatnode_memory.sh build-release
bash bench/transfer_throughput.sh build-release
bash bench/slice_benchmark.sh build-release
bash bench/support_quality.sh build-release
bash bench/fleet.sh build-release
