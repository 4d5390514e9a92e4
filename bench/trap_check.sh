#!/usr/bin/env bash
# Speed and memory of the cavity check on a tall job: a closed hollow box, 60 x 40 x 100 mm
# with walls of 5 mm, sliced at 100-micron layers (1000 layers of 1280 x 800 pixels), then
# checked by tessora-cli ssj traps; ssj islands on the same job, which draws every layer the
# same way, shows what reading the layers alone costs. Wall time and peak resident memory of
# each (GNU time), the cavity found and its expected volume (50 x 30 x 90 mm = 135 ml).
#
#   bench/trap_check.sh BUILD_DIR
set -euo pipefail
export LC_ALL=C
build=${1:?build folder, such as build-release}
bin="$build/bin"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The box and, turned inside out, the hollow in it: an ASCII STL.
python3 - "$work/hollowbox.stl" <<'PY'
import sys
def box(lo, hi, inward):
    x0, y0, z0 = lo; x1, y1, z1 = hi
    v = [(x0,y0,z0),(x1,y0,z0),(x1,y1,z0),(x0,y1,z0),(x0,y0,z1),(x1,y0,z1),(x1,y1,z1),(x0,y1,z1)]
    faces = [(0,2,1),(0,3,2),(4,5,6),(4,6,7),(0,1,5),(0,5,4),(1,2,6),(1,6,5),(2,3,7),(2,7,6),(3,0,4),(3,4,7)]
    return [(v[a], v[c], v[b]) if inward else (v[a], v[b], v[c]) for a, b, c in faces]
tris = box((-30,-20,0), (30,20,100), False) + box((-25,-15,5), (25,15,95), True)
with open(sys.argv[1], 'w') as f:
    f.write('solid hollowbox\n')
    for a, b, c in tris:
        f.write(' facet normal 0 0 0\n  outer loop\n')
        for p in (a, b, c):
            f.write('   vertex %g %g %g\n' % p)
        f.write('  endloop\n endfacet\n')
    f.write('endsolid hollowbox\n')
PY
"$bin/tessora-cli" slice "$work/hollowbox.stl" -o "$work/hollowbox.ssj" --layer 100 2>/dev/null
"$bin/tessora-cli" ssj info "$work/hollowbox.ssj" | grep -E "layers:|largest layer:"

measure() { # LABEL COMMAND... -> one line: label, seconds, peak memory
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>/dev/null || true
    read -r seconds kilobytes < <(tail -n 1 "$work/time")
    printf '%-8s %8.2f s %8d MB peak\n' "$label" "$seconds" $((kilobytes / 1024))
}
measure islands "$bin/tessora-cli" ssj islands "$work/hollowbox.ssj"
measure traps "$bin/tessora-cli" ssj traps "$work/hollowbox.ssj"
cat "$work/out"
