#!/usr/bin/env bash
# Rebuilds the seed corpora in fuzz/corpus/ with the programs' own tools and writers:
#  - job files packed by "tessora-cli ssj pack" from the sample layers of ssj-sample-layers
#    (plain and anti-aliased) and sliced by "tessora-cli slice" from a test mesh, cut to
#    their first layers, plus small jobs with supports, texts and leading blank layers;
#  - messages, job streams, resin lists and grayscale chunks written by fuzz-seeds;
#  - small meshes of tests/data/meshes, and the first facets of larger ones.
#
#     fuzz/make-corpus.sh [BUILD_DIR]
#
# BUILD_DIR is a normal (gcc) build folder, build-fuzzreplay by default; the three tools are
# built there. Inputs the fuzzers found later are not touched: they live in the working
# corpora of tools/fuzz.sh, and the ones worth keeping go to fuzz/regressions/ by hand.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-fuzzreplay}
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DTESSORA_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target tessora-cli ssj-sample-layers fuzz-seeds -- -j 2
bin=$build/bin
out=fuzz/corpus
meshes=tests/data/meshes

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

"$bin/ssj-sample-layers" --count 3 "$work/layers" >/dev/null
"$bin/ssj-sample-layers" --count 3 --anti-aliased "$work/grey" >/dev/null
"$bin/tessora-cli" ssj pack "$work"/layers/*.png -o "$work/packed.ssj" --thickness 0.05
"$bin/tessora-cli" ssj pack "$work"/grey/*.png -o "$work/packed-grey.ssj" --anti-aliased --thickness 0.1
"$bin/tessora-cli" slice "$meshes/binary_solidheader_cube20_with_hole.stl" -o "$work/sliced-cube.ssj" --layer 100
"$bin/tessora-cli" slice "$meshes/binary_solidheader_cube20_with_hole.stl" -o "$work/sliced-cube-aa.ssj" --layer 50 \
    --anti-aliased

rm -rf "$out/jobfile" "$out/resinlist" "$out/grayscale" "$out/printerlink" "$out/desktoplink"
"$bin/fuzz-seeds" "$out" "$work/packed.ssj" "$work/packed-grey.ssj" "$work/sliced-cube.ssj" \
    "$work/sliced-cube-aa.ssj"

# Meshes: small files whole, larger ones cut to their first facets.
rm -rf "$out/mesh_stl" "$out/mesh_obj"
mkdir -p "$out/mesh_stl" "$out/mesh_obj"
cp "$meshes/ascii_two_solids.stl" "$meshes/binary_solidheader_cube20_with_hole.stl" "$out/mesh_stl/"
cp "$meshes/obj_chest_open_quads_vtvn.obj" "$meshes/obj_concave_66gon.obj" "$out/mesh_obj/"

# ASCII: the solid line and ten facets of seven lines each, then the end.
{ head -n 71 "$meshes/ascii_effector_base_crlf.stl"; printf 'endsolid OpenSCAD_Model\r\n'; } \
    >"$out/mesh_stl/ascii_effector_base_crlf_10facets.stl"
{ head -n 71 "$meshes/ascii_utah_teapot_eformat_open.stl"; printf ' endsolid\n'; } \
    >"$out/mesh_stl/ascii_utah_teapot_eformat_10facets.stl"
# Binary: the header, a count of 20 and twenty facets; and the same header and count
# with only twelve facets (a short file).
{ head -c 80 "$meshes/binary_wuson_twin.stl"; printf '\024\000\000\000'; dd if="$meshes/binary_wuson_twin.stl" bs=50 skip=84 iflag=skip_bytes count=20 status=none; } \
    >"$out/mesh_stl/binary_wuson_20facets.stl"
{ head -c 80 "$meshes/binary_zeroheader_tardis_plate.stl"; printf '\024\000\000\000'; dd if="$meshes/binary_zeroheader_tardis_plate.stl" bs=50 skip=84 iflag=skip_bytes count=12 status=none; } \
    >"$out/mesh_stl/binary_tardis_short.stl"
# OBJ: the first 60 vertices and the faces that use only them.
awk '/^v / { if (++v <= 60) print; next }
     /^(vt|vn) / { if (++t <= 6) print; next }
     /^f / { ok = 1; for (i = 2; i <= NF; i++) { split($i, c, "/"); if (c[1] + 0 > 60) ok = 0 } if (ok) print; next }
     /^(#|g |s )/ { print }' "$meshes/obj_wuson_twin_vtvn.obj" >"$out/mesh_obj/obj_wuson_60vertices.obj"

for dir in "$out"/*/; do
    printf '%-28s %3d files %7d bytes\n' "$dir" "$(ls "$dir" | wc -l)" "$(cat "$dir"/* | wc -c)"
done
