#!/usr/bin/env bash
# A fleet of 100 printers on one desktop, on loopback: fleet-printers plays the printers
# (handshake, a progress report every 50 ms, heartbeats, jobs, pause/resume/cancel
# answers) against one real desktop Server in a process of its own (fleet-desktop), with
# the programs' own heartbeat timings. Prints the connections, the progress counts per
# serial, heartbeat time-outs, the desktop's processor time and peak memory (from /proc),
# and what happens when a tenth of the printers die abruptly (closed, reset or silent).
# Takes about a minute; exits non-zero when a check failed.
#
#   bench/fleet.sh [BUILD_DIR] [fleet-printers options...]
#
# BUILD_DIR defaults to build-release (configured as Release when it does not exist yet);
# only the two fleet programs are built. Options are passed on, e.g. --printers 200 or
# --load-seconds 60; see build-release/bin/fleet-printers --help.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
shift || true

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSORA_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target fleet-printers fleet-desktop -j 2 >/dev/null

"$build/bin/fleet-printers" --printers 100 --job-printers 10 --layer-ms 50 --load-seconds 30 "$@"
