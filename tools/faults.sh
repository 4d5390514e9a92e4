#!/usr/bin/env bash
# Faults in the middle of a print, end to end with the real programs on
# loopback (vatnode under an X server of its own, vatnode-boardsim, and
# tessora-cli as the desktop, all at 20 times speed):
#
#   - the connection cut during a job transfer (reset in the stream header,
#     half-way, one byte short; a cable pulled half-way);
#   - the motor board unplugged and plugged back during a print (and plugged
#     back within one layer's exposure);
#   - the printer program killed (SIGKILL) during a print, during a transfer
#     and while it stores its settings, then started again;
#   - the printer's disk full during a transfer (a file-size limit);
#   - the desktop killed during a print and a new one started;
#   - the session walk: every command of the desktop's printer link in every
#     state of the printer (idle, receiving a job, printing, paused, after a
#     cancel, after a printing error), both ends agreeing on the state after
#     each and every print whole;
#   - hostile peers: a host that takes the printer's connection and says
#     nothing, a greeting in two pieces, free texts carrying the protocol's
#     separators and marker.
#
# Builds what they need into BUILD_DIR (default build-faults/; Debug with
# AddressSanitizer and UndefinedBehaviorSanitizer, as CI builds), runs them
# (the "faults" label of CTest, about a minute and a half) and prints the
# outcome of each, then the test results:
#
#     bash tools/faults.sh [BUILD_DIR]
#
# With TESSORA_FAULTS_KEEP=1 in the environment, each scenario's folder (the
# printer's working folder and log, the lines the board received, the jobs)
# is kept, and its path printed.
# Exit status: that of CTest (0 when every scenario held).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-faults}
targets=(test_faults_transfercut test_faults_boardunplug test_faults_printerkilled test_faults_diskfull
    test_faults_desktoprestart test_faults_sessionwalk test_faults_hostilepeer)

bash tools/install-deps.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSORA_SANITIZE=ON -DTESSORA_BUILD_BENCH=OFF
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
(cd "$build" && ctest -L faults -V --timeout 600) >"$log" 2>&1 || status=$?

echo "== outcomes"
sed -n -E 's/^[0-9]+: (OUTCOME|KEPT) /\1 /p' "$log"
if grep -qE '^[0-9]+: (XFAIL|XPASS|FAIL!)' "$log"; then
    echo
    echo "== known faults (XFAIL) and failures"
    grep -E -A4 '^[0-9]+: (XFAIL|XPASS|FAIL!)' "$log" | sed -E 's/^[0-9]+: //' | grep -vE '^(PASS|QDEBUG|OUTCOME|Totals|\*\*\*)'
fi
echo
echo "== tests"
grep -E 'Test +#|tests passed|Total Test time' "$log"
exit $status
