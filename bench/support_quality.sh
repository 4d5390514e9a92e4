#!/usr/bin/env bash
# How well supports hold models with real overhangs: each model is sliced with
# --supports at density and strength 0, 50 and 100, then checked with
# `ssj islands --reach`: no island may be larger than 5 pixels, and no layer's
# material may reach more than 6 mm (60 pixels) beyond the layer below.
# Also times support generation on the 200,000-triangle sphere.
#
#   bench/support_quality.sh BUILD_DIR
set -euo pipefail
export LC_ALL=C
build=${1:?build folder, such as build-release}
bin="$build/bin"
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import math, sys
out = sys.argv[1]

def box(x0, y0, z0, x1, y1, z1):
    v = lambda i: ((x1 if i & 1 else x0), (y1 if i & 2 else y0), (z1 if i & 4 else z0))
    faces = [(0,2,3),(0,3,1),(4,5,7),(4,7,6),(0,1,5),(0,5,4),(1,3,7),(1,7,5),(3,2,6),(3,6,7),(2,0,4),(2,4,6)]
    return [(v(a), v(b), v(c)) for a, b, c in faces]

def revolve(profile, segments=96):
    # A closed solid of revolution about z from (r, z) points, bottom to top, r = 0 at both ends.
    tris = []
    for i in range(len(profile) - 1):
        (r0, z0), (r1, z1) = profile[i], profile[i + 1]
        for s in range(segments):
            a0 = 2 * math.pi * s / segments
            a1 = 2 * math.pi * (s + 1) / segments
            p = lambda r, z, a: (r * math.cos(a), r * math.sin(a), z)
            q00, q01, q10, q11 = p(r0, z0, a0), p(r0, z0, a1), p(r1, z1, a0), p(r1, z1, a1)
            if r0 > 0:
                tris.append((q00, q01, q11) if r1 > 0 else (q00, q01, q10))
            if r1 > 0:
                tris.append((q00, q11, q10) if r0 > 0 else (q00, q11, q10))
    return tris

def rotate_x(tris, degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    return [tuple((x, y * c - z * s, y * s + z * c) for (x, y, z) in t) for t in tris]

def write(name, tris):
    with open(f"{out}/{name}.stl", "w") as f:
        f.write("solid m\n")
        for t in tris:
            f.write(" facet normal 0 0 0\n  outer loop\n")
            for p in t:
                f.write("   vertex %.5f %.5f %.5f\n" % p)
            f.write("  endloop\n endfacet\n")
        f.write("endsolid m\n")

t_shape = box(-3, -3, 0, 3, 3, 12) + box(-13, -3, 12, 13, 3, 16)
write("t_shape", t_shape)
write("t_shape_30", rotate_x(t_shape, 30))
write("t_shape_45", rotate_x(t_shape, 45))
# An arch: two legs and a span between them.
write("arch", box(-15, -4, 0, -10, 4, 14) + box(10, -4, 0, 15, 4, 14) + box(-15, -4, 14, 15, 4, 18))
# A cone standing on its tip, 30 mm across at the top.
write("cone_down", revolve([(0, 0), (15, 20), (0, 20)]))
# A sphere of 15 mm radius.
write("sphere", revolve([(15 * math.sin(math.pi * i / 48), -15 * math.cos(math.pi * i / 48)) for i in range(49)]))
PY

models=(t_shape t_shape_30 t_shape_45 arch cone_down sphere)
bunny="$here/../../shared/testdata/meshes/obj_stanford_bunny_69k.obj"
if [ -f "$bunny" ]; then
    # The bunny is stored about 2 units across: 1 unit becomes 15 mm (30 mm across).
    awk '/^v / { printf "v %.6f %.6f %.6f\n", $2 * 15, $3 * 15, $4 * 15; next } { print }' "$bunny" >"$work/bunny.obj"
fi

printf '%-12s %-8s %9s %9s %12s %12s %s\n' model level supports layers "islands>5" "reach (mm)" verdict
fail=0
for model in "${models[@]}" bunny; do
    input="$work/$model.stl"
    [ "$model" = bunny ] && input="$work/bunny.obj"
    [ -f "$input" ] || continue
    for level in 0 50 100; do
        log=$("$bin/tessora-cli" slice "$input" -o "$work/job.ssj" --supports --density "$level" --strength "$level" 2>&1) || {
            echo "$model: slicing failed: $(tail -n 1 <<<"$log")"
            fail=1
            continue
        }
        supports=$(sed -n 's/^.*: \([0-9]*\) supports$/\1/p' <<<"$log" | head -n 1)
        layers=$(sed -n 's/^sliced \([0-9]*\) layers.*/\1/p' <<<"$log")
        check=$("$bin/tessora-cli" ssj islands "$work/job.ssj" --reach 2>/dev/null || true)
        large=$(sed -n 's/^.* island(s), \([0-9]*\) larger than 5 pixels$/\1/p' <<<"$check")
        reach=$(sed -n 's/^largest reach beyond the layer below: \([0-9.]*\) pixels.*/\1/p' <<<"$check")
        reach_mm=$(awk -v p="$reach" 'BEGIN { printf "%.1f", p / 10 }')
        verdict=PASS
        if [ "${large:-1}" != 0 ] || awk -v r="$reach_mm" 'BEGIN { exit !(r > 6.0) }'; then
            verdict=MISS
            fail=1
        fi
        printf '%-12s %-8s %9s %9s %12s %12s %s\n' "$model" "$level" "$supports" "$layers" "$large" "$reach_mm" "$verdict"
    done
done

meshes="$build/bench-meshes"
if [ -f "$meshes/sphere40_200k.stl" ]; then
    start=$(date +%s.%N)
    "$bin/tessora-cli" slice "$meshes/sphere40_200k.stl" -o "$work/sphere.ssj" --supports --timings 2>"$work/err"
    end=$(date +%s.%N)
    echo
    echo "sphere40_200k with supports: $(sed -n 's/^.*: \([0-9]*\) supports$/\1/p' "$work/err") supports," \
        "whole run $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f s", b - a }')"
    grep '^support timings' "$work/err"
    grep '^timings' "$work/err"
else
    echo "(no $meshes/sphere40_200k.stl: run bench/slice_benchmark.sh first for the support timing)"
fi
echo
if [ "$fail" -eq 0 ]; then
    echo "support quality: every model PASS"
else
    echo "support quality: some models MISS (see above)"
fi
