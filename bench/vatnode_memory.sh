#!/usr/bin/env bash
# Peak resident memory of vatnode while it prints a long job from disk against
# the simulated board: the printer's computer is small, and a 2,000-layer job
# must print in well under 150 MB.
#
#   bench/vatnode_memory.sh BUILD_DIR [LAYERS]
set -euo pipefail
build=${1:?build folder, such as build-release}
layers=${2:-2000}
bin="$build/bin"
work=$(mktemp -d)
trap 'kill $board_pid 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/ssj-sample-layers" "$work/layers" --count "$layers" >/dev/null
"$bin/tessora-cli" ssj pack "$work"/layers/layer_*.png -o "$work/job.ssj" --thickness 0.05 2>/dev/null
rm -rf "$work/layers"
echo "job: $layers layers, $(stat -c %s "$work/job.ssj") bytes"

scale=0.001
"$bin/vatnode-boardsim" --link "$work/board" --speed "$scale" >/dev/null &
board_pid=$!
sleep 0.5

start=$(date +%s.%N)
QT_QUICK_BACKEND=software xvfb-run -a -s "-screen 0 1280x800x24" \
    "$bin/vatnode" --workdir "$work/wd" --serial-port "$work/board" --time-scale "$scale" \
    --print-file "$work/job.ssj" --job "3,20,2,50,50,$layers,Clear,1,1,1" >/dev/null 2>"$work/vatnode.err" &
runner=$!

peak=0
while kill -0 "$runner" 2>/dev/null; do
    pid=$(pgrep -f -n "$bin/vatnode --workdir $work/wd" || true)
    if [ -n "$pid" ] && [ -r "/proc/$pid/status" ]; then
        hwm=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
        [ "${hwm:-0}" -gt "$peak" ] && peak=$hwm
    fi
    sleep 0.2
done
wait "$runner" && status=0 || status=$?
end=$(date +%s.%N)
tail -n 1 "$work/vatnode.err"
awk -v s="$status" -v a="$start" -v b="$end" -v p="$peak" \
    'BEGIN { printf "vatnode exit %d after %.1f s; peak resident memory %.1f MB\n", s, b - a, p / 1024 }'
