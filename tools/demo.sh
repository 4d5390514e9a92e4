#!/usr/bin/env bash
# Installs what is missing, builds into build/ and runs the main job as a user
# would: a mesh from the repository (the effector base of
# tests/data/meshes, MIT licence, see SOURCES.md there) is imported, stood on
# supports and sliced at 100 microns into a job file, and a simulated printer
# prints it over the network: vatnode-boardsim plays the motor board on a
# pseudo-terminal, vatnode runs the printer at 50 times speed on a virtual
# 1280 x 800 screen (saving every projected frame), and tessora-cli finds it
# on loopback, sends the job with the resin "Clear" and follows it to the end.
# ssj-contact-sheet then draws a few of the projected frames next to the layers
# they show. Everything is left in build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSORA_BUILD_TESTS=OFF
cmake --build build -j "$(nproc)"

work=build/demo
rm -rf "$work"
mkdir -p "$work"
job="$work/effector-base.ssj"
build/bin/tessora-cli slice tests/data/meshes/ascii_effector_base_crlf.stl -o "$job" --layer 100 --supports
build/bin/tessora-cli ssj info "$job"

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
build/bin/tessora-cli print "$job" --resin Clear --wait 60 --time-scale "$scale" \
    --discovery-target 127.0.0.1 --discovery-port 49971 --base-port 50600 2>&1 | tee "$work/print.log" \
    || status=$?

# A picture to look at, even of a failed print (whatever frames it projected);
# a print done without its picture fails the demo too.
build/bin/ssj-contact-sheet "$job" "$work/frames" -o "$work/contact-sheet.png" || { [ $status -ne 0 ] || status=1; }

echo
echo "board commands: $work/board.log ($(wc -l < "$work/board.log") lines)"
echo "projected frames: $work/frames ($(ls "$work/frames" | wc -l) images)"
echo "printer log: $work/printer/LogFile_Vatnode"
echo "print log: $work/print.log"
echo "contact sheet: $work/contact-sheet.png"
exit $status
