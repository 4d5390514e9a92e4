#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSORA_SANITIZE=ON -DTESSORA_BUILD_BENCH=OFF
cmake --build build-asan -j "$(nproc)"
cd build-asan
ctest -j "$(nproc)" --output-on-failure --timeout 600

# A short run of every fuzz target, built with clang into build-fuzz/: fails when one
# crashes, hangs or breaks a rule. Longer runs: tools/fuzz.sh [SECONDS] [TARGET...].
cd ..
bash tools/fuzz.sh 20

# The Debian packages, the arm64 printer program under emulation, and an install into a
# fresh Debian root.
bash tools/test-packages.sh
