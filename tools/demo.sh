#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs the main job: the
# layers of a sample part are packed into a job file, and a simulated printer
# prints it: vatnode-boardsim plays the motor board on a pseudo-terminal and
# vatnode prints the job from disk at 50 times speed on a virtual 1280 x 800
# screen, saving every projected frame. Everything is left in build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSORA_BUILD_TESTS=OFF
cmake --build build -j "$(nproc)"

work=build/demo
rm -rf "$work"
mkdir -p "$work"
build/bin/ssj-sample-layers "$work/layers" --count 40
build/bin/tessora-cli ssj pack "$work"/layers/layer_*.png -o "$work/sample-part.ssj" --thickness 0.05 \
    --description "sample part, 40 layers of 50 microns"
build/bin/tessora-cli ssj info "$work/sample-part.ssj"

scale=0.02
build/bin/vatnode-boardsim --link "$work/board" --speed "$scale" --log "$work/board.log" &
board=$!
trap 'kill $board 2>/dev/null || true' EXIT
sleep 0.5

# 3 adhesion layers of 20 s, 4 s layers of 50 microns, 40 layers, resin Clear.
status=0
QT_QUICK_BACKEND=software xvfb-run -a -s "-screen 0 1280x800x24" \
    build/bin/vatnode --workdir "$work/printer" --serial-port "$work/board" --time-scale "$scale" \
    --frames-dir "$work/frames" --print-file "$work/sample-part.ssj" --job "3,20,4,50,50,40,Clear,1,1,1" \
    2> >(grep -v '^Debug: ' >&2) || status=$?

echo
echo "board commands: $work/board.log ($(wc -l < "$work/board.log") lines)"
echo "projected frames: $work/frames ($(ls "$work/frames" | wc -l) images)"
echo "printer log: $work/printer/LogFile_Vatnode"
exit $status
