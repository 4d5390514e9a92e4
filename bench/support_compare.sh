#!/usr/bin/env bash
# Support resin next to PrusaSlicer's default SLA supports on the same meshes.
#
# For every mesh and support level (density = strength = LEVEL) it prints: our support
# resin as a percentage of the model (lit pixels of the job with supports minus those of
# the job without, over the latter), PrusaSlicer's (default supports, pad off), the ratio
# ours / theirs, our islands larger than 5 pixels, our largest reach beyond the layer
# below, and our support generation time, the island repair after it included. Jobs are
# sliced at 0.1 mm layers, 1280 x 800 pixels over 128 x 80 mm, on both sides. noise% is
# how much the model alone changes (% of its lit pixels) when it lies 0.175 mm further
# over on the platform: support resin below that is within the noise. (Supports do not
# move the model: it keeps its place across and stands whole layers up.)
#
#   bench/support_compare.sh BUILD_DIR [MESH...]
#
# Without MESH arguments: the Stanford bunny (x 25.4), Wuson (x 15.24), the effector base,
# the closed solids among the test meshes, and the benchmark models (made by
# bench/make_meshes.py). LEVELS (default "0 50 100") chooses the levels; SKIP_LARGE=1
# leaves out the million-triangle benchmark models, NAMED_ONLY=1 keeps only the first
# three meshes. PrusaSlicer (Debian package
# prusa-slicer) is installed through apt-get when missing.
set -euo pipefail
export LC_ALL=C
build=${1:?build folder, such as build-release}
shift
bin="$build/bin"
cli="$bin/tessora-cli"
here=$(cd "$(dirname "$0")" && pwd)
meshes="$here/../../shared/testdata/meshes"
levels=${LEVELS:-"0 50 100"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! command -v prusa-slicer >/dev/null; then
    echo "installing prusa-slicer"
    run_as_root=()
    [ "$(id -u)" -ne 0 ] && run_as_root=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    { "${run_as_root[@]}" apt-get update -q && "${run_as_root[@]}" apt-get install -y -q --no-install-recommends \
        prusa-slicer; } >"$work/apt.log" 2>&1 || echo "could not install prusa-slicer: $(tail -n 1 "$work/apt.log")"
fi

# --- the meshes ------------------------------------------------------------------------
# prepare NAME SOURCE FACTOR closed|any: a copy of SOURCE scaled by FACTOR as NAME.stl
# (ASCII); with "closed" only when the source is a closed solid (every edge shared by
# exactly two triangles).
prepare() {
    python3 - "$2" "$3" "$work/$1.stl" "$4" <<'PY'
import struct, sys
source, factor, target, closed = sys.argv[1], float(sys.argv[2]), sys.argv[3], sys.argv[4] == 'closed'
tris = []
data = open(source, 'rb').read()
if source.lower().endswith('.obj'):
    vs = []
    for line in data.decode('latin-1').splitlines():
        p = line.split()
        if not p:
            continue
        if p[0] == 'v':
            vs.append(tuple(float(x) for x in p[1:4]))
        elif p[0] == 'f':
            idx = [int(q.split('/')[0]) for q in p[1:]]
            idx = [i - 1 if i > 0 else len(vs) + i for i in idx]
            for k in range(1, len(idx) - 1):
                tris.append((vs[idx[0]], vs[idx[k]], vs[idx[k + 1]]))
elif data[:5].lower() == b'solid' and b'facet' in data[:1000] and b'vertex' in data:
    pts = [tuple(float(x) for x in l.split()[1:4]) for l in data.decode('latin-1').splitlines()
           if l.strip().startswith('vertex')]
    tris = [tuple(pts[i:i + 3]) for i in range(0, len(pts) - 2, 3)]
else:
    n = min(struct.unpack('<I', data[80:84])[0], (len(data) - 84) // 50)
    for i in range(n):
        v = struct.unpack('<12f', data[84 + 50 * i:84 + 50 * i + 48])
        tris.append((v[3:6], v[6:9], v[9:12]))
edges = {}
key = lambda p: tuple(round(c, 5) for c in p)
for t in tris:
    for e in range(3):
        a, b = key(t[e]), key(t[(e + 1) % 3])
        if a != b:
            k = (min(a, b), max(a, b))
            edges[k] = edges.get(k, 0) + 1
if not tris or (closed and any(c != 2 for c in edges.values())):
    sys.exit(1)
with open(target, 'w') as f:
    f.write('solid m\n')
    for t in tris:
        f.write(' facet normal 0 0 0\n  outer loop\n')
        for p in t:
            f.write('   vertex %.5f %.5f %.5f\n' % tuple(c * factor for c in p))
        f.write('  endloop\n endfacet\n')
    f.write('endsolid m\n')
PY
}

names=()
add_mesh() { # NAME SOURCE FACTOR [closed]
    if prepare "$1" "$2" "$3" "${4:-any}"; then names+=("$1"); else echo "skipped $1: not a closed solid"; fi
}
if [ $# -gt 0 ]; then
    for mesh in "$@"; do
        add_mesh "$(basename "${mesh%.*}")" "$mesh" 1
    done
else
    add_mesh bunny_x25.4 "$meshes/obj_stanford_bunny_69k.obj" 25.4
    add_mesh wuson_x15.24 "$meshes/binary_wuson_twin.stl" 15.24
    add_mesh effector_base "$meshes/ascii_effector_base_crlf.stl" 1
    [ "${NAMED_ONLY:-0}" = 1 ] && set -- none
    for mesh in "$meshes"/*.stl "$meshes"/*.obj; do
        [ $# -gt 0 ] && break
        case "$(basename "$mesh")" in
        *bunny* | *wuson* | *effector*) continue ;;
        esac
        add_mesh "$(basename "${mesh%.*}")" "$mesh" 1 closed
    done
    [ $# -eq 0 ] && python3 "$here/make_meshes.py" "$work/bench" >/dev/null
    for mesh in "$work"/bench/*.stl; do
        [ -f "$mesh" ] || continue
        case "$(basename "$mesh")" in *_1m.stl) [ "${SKIP_LARGE:-0}" = 1 ] && continue ;; esac
        names+=("$(basename "${mesh%.stl}")")
        cp "$mesh" "$work/"
    done
fi

# nudge NAME: NAME.stl with a 0.1 mm cube 0.25 mm beyond its lowest y, as NAME_nudged.stl;
# placed centred on the platform, the model lies 0.175 mm further over.
nudge() {
    python3 - "$work/$1.stl" "$work/$1_nudged.stl" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
ascii = data[:5] == b'solid' and b'facet' in data[:1000]
if ascii:
    pts = [tuple(float(x) for x in l.split()[1:4]) for l in data.decode('latin-1').splitlines()
           if l.strip().startswith('vertex')]
else:
    n = struct.unpack('<I', data[80:84])[0]
    pts = [struct.unpack('<3f', data[84 + 50 * i + 12 * k:96 + 50 * i + 12 * k]) for i in range(n) for k in (1, 2, 3)]
x, y, z = min(p[0] for p in pts), min(p[1] for p in pts) - 0.35, min(p[2] for p in pts)
v = lambda i: (x + 0.1 * (i & 1), y + 0.1 * (i >> 1 & 1), z + 0.1 * (i >> 2 & 1))
faces = [(0,2,3),(0,3,1),(4,5,7),(4,7,6),(0,1,5),(0,5,4),(1,3,7),(1,7,5),(3,2,6),(3,6,7),(2,0,4),(2,4,6)]
with open(sys.argv[2], 'wb') as out:
    if ascii:
        cube = ''.join(' facet normal 0 0 0\n  outer loop\n' + ''.join('   vertex %.5f %.5f %.5f\n' % v(i) for i in f)
                       + '  endloop\n endfacet\n' for f in faces)
        out.write(data.decode('latin-1').replace('endsolid m', cube + 'endsolid m').encode('latin-1'))
    else:
        out.write(data[:80] + struct.pack('<I', n + 12) + data[84:84 + 50 * n])
        out.write(b''.join(struct.pack('<12fH', 0, 0, 0, *v(f[0]), *v(f[1]), *v(f[2]), 0) for f in faces))
PY
}

# --- measuring -------------------------------------------------------------------------
lit() { # JOB -> lit pixels
    "$cli" ssj info "$1" --json | sed -n 's/.*"whitePixels":\([0-9]*\).*/\1/p'
}
percent() { # WITH WITHOUT -> support resin, % of the model
    awk -v w="$1" -v o="$2" 'BEGIN { if (o > 0) printf "%.1f", 100 * (w - o) / o; else print "n/a" }'
}

# PrusaSlicer's default SLA supports, pad off; its layers packed into a job of ours to
# count them the same way.
theirs() { # NAME SUPPORTS(yes|no) -> lit pixels, or nothing
    local supports=--no-supports-enable
    [ "$2" = yes ] && supports=--supports-enable
    rm -rf "$work/peer" "$work/peer.sl1"
    prusa-slicer --export-sla --printer-technology SLA --display-orientation landscape \
        --display-width 128 --display-height 80 --display-pixels-x 1280 --display-pixels-y 800 \
        --no-display-mirror-x --no-display-mirror-y --bed-shape 0x0,128x0,128x80,0x80 --max-print-height 150 \
        --layer-height 0.1 --initial-layer-height 0.1 "$supports" --no-pad-enable --no-hollowing-enable \
        --loglevel 1 --gamma-correction 0 -o "$work/peer.sl1" "$work/$1.stl" >/dev/null 2>&1 || return 0
    python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$work/peer.sl1" "$work/peer"
    "$cli" ssj pack $(ls "$work"/peer/*.png | sort) -o "$work/peer.ssj" --thickness 0.1 >/dev/null 2>&1 || return 0
    lit "$work/peer.ssj"
}

printf '%-34s %5s %8s %8s %6s %10s %10s %9s %7s\n' mesh level ours% prusa% ratio "islands>5" "reach(mm)" "gen(s)" noise%
for name in "${names[@]}"; do
    input="$work/$name.stl"
    if ! "$cli" slice "$input" -o "$work/without.ssj" --layer 100 >/dev/null 2>"$work/err"; then
        echo "$name: $(tail -n 1 "$work/err")"
        continue
    fi
    without=$(lit "$work/without.ssj")
    noise=n/a
    if nudge "$name" && "$cli" slice "$work/${name}_nudged.stl" -o "$work/nudged.ssj" --layer 100 >/dev/null 2>&1; then
        noise=$(percent "$(lit "$work/nudged.ssj")" "$without" | tr -d -)
    fi
    peer=n/a
    if command -v prusa-slicer >/dev/null; then
        peer_with=$(theirs "$name" yes)
        peer_without=$(theirs "$name" no)
        [ -n "$peer_with" ] && [ -n "$peer_without" ] && peer=$(percent "$peer_with" "$peer_without")
    fi
    for level in $levels; do
        if ! "$cli" slice "$input" -o "$work/with.ssj" --layer 100 --supports --density "$level" --strength "$level" \
            --timings >/dev/null 2>"$work/err"; then
            echo "$name: $(tail -n 1 "$work/err")"
            continue
        fi
        ours=$(percent "$(lit "$work/with.ssj")" "$without")
        generation=$(sed -n 's/^support timings (ms): model \([0-9.]*\), sampling \([0-9.]*\) .*, depth images \([0-9.]*\), layer sweep \([0-9.]*\), columns \([0-9.]*\)$/\1 \2 \3 \4 \5/p' \
            "$work/err" | awk '{ s += $1 + $2 + $3 + $4 + $5 } END { printf "%.2f", s / 1000 }')
        repair=$(sed -n 's/^island repair: .*, \([0-9]*\) ms$/\1/p' "$work/err")
        generation=$(awk -v g="$generation" -v r="${repair:-0}" 'BEGIN { printf "%.2f", g + r / 1000 }')
        "$cli" ssj islands "$work/with.ssj" --json --reach >"$work/islands.json" 2>"$work/reach" || true
        islands=$(python3 -c 'import json, sys; print(sum(1 for i in json.load(open(sys.argv[1])) if i["pixels"] > 5))' \
            "$work/islands.json")
        reach=$(sed -n 's/^largest reach beyond the layer below: \([0-9.]*\) pixels.*/\1/p' "$work/reach" \
            | awk '{ printf "%.1f", $1 / 10 }')
        ratio=$(awk -v a="$ours" -v b="$peer" 'BEGIN { if (b + 0 > 0) printf "%.2f", a / b; else print "n/a" }')
        printf '%-34s %5s %8s %8s %6s %10s %10s %9s %7s\n' "$name" "$level" "$ours" "$peer" "$ratio" "$islands" "$reach" \
            "$generation" "$noise"
    done
done
