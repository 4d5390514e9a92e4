#!/usr/bin/env bash
# Frame rate of the 3D editor: the editor item in a 1280 x 800 window on Xvfb, drawn by
# Mesa's software renderer (llvmpipe), while the camera orbits a 200,000-triangle and a
# 1,000,000-triangle sphere (one rotation request per frame). Models live in vertex
# buffers uploaded once, so a frame costs the drawing only; while the camera moves, the
# scene is drawn at half the window's resolution each way and a model of more than 150,000
# triangles from its reduced copy (at most 100,000, built in the background after import,
# the selected model's overhangs carried onto it), and at full resolution and whole again
# once the camera rests. Dragging the selected model and turning it by the gimbal's ring
# are drawn the same way, and whole again once the mouse is let go. Measured: orbiting the
# 200,000- and the 1,000,000-triangle sphere, dragging and turning the 1,000,000-triangle
# one (target: 30 frames per second each), and frames at rest of the selected
# 1,000,000-triangle sphere, drawn whole at full resolution (no target: their processor
# time). Each line ends with the model triangles the last frame drew.
#
# Software rendering shares the processor with everything else on the machine, so the
# load average is shown with the results, and the processor time per frame of the whole
# process (all of its threads), which other load changes little.
#
# The meshes come from bench/make_meshes.py, kept in BUILD_DIR/bench-meshes (made here when
# missing). bench_view_fps is built from bench/view.cmake.
#
#   bench/view_fps.sh BUILD_DIR [SECONDS [SHOTS_FOLDER]]
#
# With SHOTS_FOLDER, the window of each measurement is saved there during the motion and at
# rest (NAME-MODE.png, NAME-MODE-rest.png).
set -euo pipefail
export LC_ALL=C
build=${1:?build folder, such as build-release}
seconds=${2:-10}
shots=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
bin="$build/bin/bench_view_fps"
meshes="$build/bench-meshes"

if [ ! -x "$bin" ]; then
    echo "$bin is missing: build the target bench_view_fps (bench/view.cmake)" >&2
    exit 1
fi
command -v xvfb-run >/dev/null || { echo "xvfb-run is not installed" >&2; exit 1; }
if [ ! -f "$meshes/sphere40_200k.stl" ] || [ ! -f "$meshes/sphere40_1m.stl" ]; then
    echo "making the benchmark meshes in $meshes"
    python3 "$here/make_meshes.py" "$meshes"
fi

echo "renderer: Mesa llvmpipe on Xvfb, 1280 x 800, $seconds s per measurement, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
target_fps=30
for measurement in "orbit sphere40_200k" "orbit sphere40_1m" "drag sphere40_1m" "turn sphere40_1m" "rest sphere40_1m"; do
    read -r mode name <<<"$measurement"
    line=$(QT_QPA_PLATFORM=xcb LIBGL_ALWAYS_SOFTWARE=1 \
        xvfb-run -a -s "-screen 0 1280x1024x24" "$bin" --mode "$mode" "$meshes/$name.stl" "$seconds" 1280 800 \
        ${shots:+"$shots"} 2>/dev/null | grep '^triangles' || true)
    if [ -z "$line" ]; then
        echo "$mode $name: no result"
        status=1
        continue
    fi
    fps=$(echo "$line" | awk '{print $8}')
    if [ "$mode" = rest ]; then
        verdict=""
    elif awk -v fps="$fps" -v target="$target_fps" 'BEGIN { exit !(fps >= target) }'; then
        verdict="  PASS (target $target_fps fps)"
    else
        verdict="  MISS (target $target_fps fps)"
    fi
    echo "$mode $name: $line$verdict"
done
exit $status
