#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs the main job: the
# layers of a sample part are packed into a job file, and a simulated printer
# prints it over the network: vatnode-boardsim plays the motor board on a
# pseudo-terminal, vatnode runs the printer at 50 times speed on a virtual
# 1280 x 800 screen (saving every projected frame), and tessora-cli finds it
# on loopback, sends the job with the resin "Clear" and follows it to the end.
# Everything is left in build/demo/.
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
# vatnode first, so that xvfb-run stops its X server itself.
# (The pattern is anchored: xvfb-run's own command line holds the same words.)
trap 'pkill -f "^build/bin/vatnode --workdir $work/printer" 2>/dev/null || true; wait $printer 2>/dev/null || true; kill $board 2>/dev/null || true' EXIT
sleep 0.5

# The printer waits for a desktop's announcement; the desktop here is
# tessora-cli, announcing to 127.0.0.1 only.
QT_QUICK_BACKEND=software xvfb-run -a -s "-screen 0 1280x800x24" \
    build/bin/vatnode --workdir "$work/printer" --serial-port "$work/board" --time-scale "$scale" \
    --frames-dir "$work/frames" --discovery-port 49971 >"$work/vatnode.out" 2>&1 &
printer=$!

status=0
build/bin/tessora-cli print "$work/sample-part.ssj" --resin Clear --wait 60 --time-scale "$scale" \
    --discovery-target 127.0.0.1 --discovery-port 49971 --base-port 50600 || status=$?

echo
echo "board commands: $work/board.log ($(wc -l < "$work/board.log") lines)"
echo "projected frames: $work/frames ($(ls "$work/frames" | wc -l) images)"
echo "printer log: $work/printer/LogFile_Vatnode"
exit $status
