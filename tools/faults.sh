#!/usr/bin/env bash
# Faults in the middle of a print, end to end with the real programs on
# loopback (vatnode under an X server of its own, vatnode-boardsim, and
# tessora-cli as the desktop, all at 20 times speed): the tests of CTest's
# "faults" label, tests/faults/ (each file says what it strikes).
#
# Builds what they need into BUILD_DIR (default build-faults/; Debug with
# AddressSanitizer and UndefinedBehaviorSanitizer, as CI builds), runs them
# (the "faults" label of CTest, about two minutes) and prints the
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
targets=(test_networkprint test_faults_sessionwalk)

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
if grep -qE '^[0-9]+: FAIL!' "$log"; then
    echo
    echo "== failures"
    grep -E -A4 '^[0-9]+: FAIL!' "$log" | sed -E 's/^[0-9]+: //' | grep -vE '^(PASS|QDEBUG|OUTCOME|Totals|\*\*\*)'
fi
echo
echo "== tests"
grep -E 'Test +#|tests passed|Total Test time' "$log"
exit $status
