#!/usr/bin/env bash
# Slicing speed: whole-process wall time of tessora-cli slice at 50-micron layers,
# plain and anti-aliased, next to PrusaSlicer in SLA mode doing the same job (1280 x 800
# layers of 0.1 mm pixels, no supports, pad or hollowing) in the same run. Rounds are
# interleaved (every command once per round) so that the load of a shared machine
# spreads over both programs alike; medians of RUNS rounds are shown.
#
# The meshes come from bench/make_meshes.py and are kept in BUILD_DIR/bench-meshes;
# cube20 and bracket are added when openscad is installed. PrusaSlicer (Debian package
# prusa-slicer) and GNU time are installed through apt-get when missing; without
# PrusaSlicer only our times are shown. For sphere40_1m the script also shows the time
# split printed by --timings and the peak resident memory next to the imported
# triangle list (48 bytes a triangle).
#
#   bench/slice_benchmark.sh BUILD_DIR [RUNS]
set -euo pipefail
export LC_ALL=C
build=${1:?build folder, such as build-release}
runs=${2:-5}
bin="$build/bin"
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
meshes="$build/bench-meshes"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Targets.
plain_limit=1.5      # s, sphere40_1m and torus_1m plain
aa_limit=4.0         # s, sphere40_1m anti-aliased
speedup_target=5     # peer / ours, sphere40_1m and torus_1m plain
triangle_bytes=48
image_bytes=$((1280 * 800 * 4)) # one 1280 x 800 layer image, 32-bit pixels
threads=$(nproc)            # tessora-cli slices on as many threads as there are cores

# --- tools -----------------------------------------------------------------------
apt_install() { # PACKAGE -> status of apt-get install
    local run_as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        run_as_root=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    if [ ! -e "$work/apt-updated" ]; then
        "${run_as_root[@]}" apt-get update -q >>"$work/apt.log" 2>&1 || true
        : >"$work/apt-updated"
    fi
    "${run_as_root[@]}" apt-get install -y -q --no-install-recommends "$1" >>"$work/apt.log" 2>&1
}
if ! command -v prusa-slicer >/dev/null; then
    echo "installing prusa-slicer"
    apt_install prusa-slicer || echo "could not install prusa-slicer: $(tail -n 1 "$work/apt.log")"
fi
if [ ! -x /usr/bin/time ]; then
    echo "installing time"
    apt_install time || echo "could not install time: $(tail -n 1 "$work/apt.log")"
fi
peer=0
if command -v prusa-slicer >/dev/null; then
    peer=1
    echo "peer: PrusaSlicer $(dpkg-query -W -f='${Version}' prusa-slicer 2>/dev/null || echo '(version unknown)')"
else
    echo "peer: PrusaSlicer is not installed; measuring tessora-cli alone"
fi
gnu_time=0
[ -x /usr/bin/time ] && gnu_time=1

# --- meshes ----------------------------------------------------------------------
declare -A triangles=([sphere40_200k]=200000 [sphere40_1m]=1000000 [torus_1m]=1000000)
meshes_ok() {
    local name
    for name in "${!triangles[@]}"; do
        [ "$(stat -c %s "$meshes/$name.stl" 2>/dev/null || echo 0)" -eq $((84 + 50 * triangles[$name])) ] || return 1
    done
}
if ! meshes_ok; then
    echo "generating the meshes into $meshes"
    python3 "$here/make_meshes.py" "$meshes"
    meshes_ok || { echo "make_meshes.py did not write the expected meshes" >&2; exit 1; }
fi
models=(sphere40_1m torus_1m sphere40_200k)
if command -v openscad >/dev/null; then
    for name in cube20 bracket; do
        if [ ! -s "$meshes/$name.stl" ]; then
            openscad -o "$meshes/$name.stl" --export-format binstl "$here/$name.scad" >/dev/null 2>&1 \
                || { echo "openscad could not make $name.stl"; rm -f "$meshes/$name.stl"; continue; }
        fi
        models+=("$name")
    done
else
    echo "openscad is not installed: cube20 and bracket are skipped"
fi
cat "$meshes"/*.stl >/dev/null # into the page cache before the first round

# --- measurements ----------------------------------------------------------------
# Each run appends its seconds (or "fail") to $work/MODEL.WHO.MODE.
timed() { # RESULT-FILE COMMAND... ; the command's output goes to $work/out and $work/err
    local result=$1 start end
    shift
    start=$(date +%s.%N)
    if "$@" >"$work/out" 2>"$work/err"; then
        end=$(date +%s.%N)
        awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }' >>"$result"
    else
        echo fail >>"$result"
        echo "  failed: ${result##*/} ($(tail -n 1 "$work/err"))" >&2
    fi
}

ours() { # MODEL plain|aa
    local extra=() wrap=() key="$work/$1.ours.$2"
    [ "$2" = aa ] && extra=(--anti-aliased)
    [ "$gnu_time" -eq 1 ] && wrap=(/usr/bin/time -v -o "$work/rss")
    timed "$key" "${wrap[@]}" "$bin/tessora-cli" slice "$meshes/$1.stl" -o "$work/job.ssj" \
        --layer 50 --timings "${extra[@]}"
    rm -f "$work/job.ssj"
    if [ "$(tail -n 1 "$key")" != fail ]; then
        sed -n 's/^timings (ms): import \([0-9]*\), preparation \([0-9]*\), layers \([0-9]*\) wall .*, writing \([0-9]*\)$/\1 \2 \3 \4/p' \
            "$work/err" >>"$key.split"
        [ "$gnu_time" -eq 1 ] && awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/rss" >>"$key.rss"
        sed -n "s|^.*$1\.stl: \([0-9]*\) triangles.*|\1|p" "$work/err" >"$work/$1.triangles"
    fi
    return 0
}

theirs() { # MODEL plain|aa
    local gamma=0
    [ "$2" = aa ] && gamma=1
    timed "$work/$1.peer.$2" prusa-slicer --export-sla --printer-technology SLA --display-orientation landscape \
        --display-width 128 --display-height 80 --display-pixels-x 1280 --display-pixels-y 800 \
        --no-display-mirror-x --no-display-mirror-y --bed-shape 0x0,128x0,128x80,0x80 --max-print-height 150 \
        --layer-height 0.05 --initial-layer-height 0.05 --no-supports-enable --no-pad-enable --no-hollowing-enable \
        --loglevel 1 --gamma-correction "$gamma" -o "$work/job.sl1" "$meshes/$1.stl"
    rm -f "$work/job.sl1"
}

median() { # FILE [COLUMN] -> median of the numeric values, n/a when there are none
    local column=${2:-1}
    [ -s "$1" ] || { echo n/a; return; }
    awk -v c="$column" '$c != "fail" { print $c }' "$1" | sort -g \
        | awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "tessora-cli slice --layer 50 on $threads threads; $runs round(s), every command once a round"
for round in $(seq "$runs"); do
    for model in "${models[@]}"; do
        ours "$model" plain
        ours "$model" aa
        if [ "$peer" -eq 1 ]; then
            theirs "$model" plain
            theirs "$model" aa
        fi
    done
    line="round $round:"
    for model in "${models[@]}"; do
        line+=" $model $(tail -n 1 "$work/$model.ours.plain")/$(tail -n 1 "$work/$model.ours.aa")"
        [ "$peer" -eq 1 ] && line+=" (peer $(tail -n 1 "$work/$model.peer.plain")/$(tail -n 1 "$work/$model.peer.aa"))"
        line+=","
    done
    echo "${line%,} s (plain/anti-aliased)"
done

# --- report ----------------------------------------------------------------------
ratio() { awk -v p="$1" -v o="$2" 'BEGIN { if (p == "n/a" || o == "n/a" || o == 0) print "n/a"; else printf "%.1fx\n", p / o }'; }
secs() { awk -v s="$1" -v u="${2:-}" 'BEGIN { if (s == "n/a") print s; else printf "%.2f%s\n", s, u }'; }
verdict() { # VALUE OP LIMIT -> PASS, MISS or n/a
    awk -v v="$1" -v op="$2" -v l="$3" 'BEGIN {
        if (v == "n/a") { print "n/a"; exit }
        v += 0; ok = (op == "<=") ? v <= l : v >= l; print ok ? "PASS" : "MISS" }'
}

echo
echo "median of $runs run(s), whole process, seconds:"
printf '%-14s %10s %10s %11s %10s %14s %10s\n' model "ours plain" "ours AA" "peer plain" "peer AA" "speed-up plain" "speed-up AA"
declare -A ours_plain ours_aa peer_plain peer_aa rss_median
for model in "${models[@]}"; do
    ours_plain[$model]=$(median "$work/$model.ours.plain")
    ours_aa[$model]=$(median "$work/$model.ours.aa")
    peer_plain[$model]=$(median "$work/$model.peer.plain")
    peer_aa[$model]=$(median "$work/$model.peer.aa")
    printf '%-14s %10s %10s %11s %10s %14s %10s\n' "$model" \
        "$(secs "${ours_plain[$model]}")" "$(secs "${ours_aa[$model]}")" \
        "$(secs "${peer_plain[$model]}")" "$(secs "${peer_aa[$model]}")" \
        "$(ratio "${peer_plain[$model]}" "${ours_plain[$model]}")" \
        "$(ratio "${peer_aa[$model]}" "${ours_aa[$model]}")"
done

echo
echo "sphere40_1m, median of $runs run(s) (--timings in ms):"
printf '%-14s %8s %12s %12s %8s %14s\n' mode import preparation "layers wall" writing "peak memory"
for mode in plain aa; do
    split="$work/sphere40_1m.ours.$mode.split"
    rss=$(median "$work/sphere40_1m.ours.$mode.rss")
    rss_text=n/a
    [ "$rss" != n/a ] && rss_text=$(awk -v k="$rss" 'BEGIN { printf "%.1f MB", k * 1024 / 1e6 }')
    printf '%-14s %8s %12s %12s %8s %14s\n' "$([ "$mode" = aa ] && echo anti-aliased || echo plain)" \
        "$(median "$split" 1)" "$(median "$split" 2)" "$(median "$split" 3)" "$(median "$split" 4)" "$rss_text"
    rss_median[$mode]=$rss
done
# What the program needs whatever it slices (Qt, the libraries, the threads): the peak of
# a 32-triangle job. The target is about the slicer's data, above that.
base_kb=0
if [ "$gnu_time" -eq 1 ]; then
    /usr/bin/time -v -o "$work/rss" "$bin/tessora-cli" slice "$repo/tests/data/meshes/binary_solidheader_cube20_with_hole.stl" \
        -o "$work/base.ssj" >/dev/null 2>&1 || true
    base_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/rss")
    base_kb=${base_kb:-0}
    awk -v k="$base_kb" 'BEGIN { printf "program base (a 32-triangle job): %.1f MB peak\n", k * 1024 / 1e6 }'
fi
count=$(cat "$work/sphere40_1m.triangles" 2>/dev/null || true)
count=${count:-${triangles[sphere40_1m]}}
list_bytes=$((count * triangle_bytes))
budget=$((3 * list_bytes + threads * image_bytes))
awk -v n="$count" -v l="$list_bytes" -v b="$budget" -v t="$threads" 'BEGIN {
    printf "imported triangle list: %d triangles x 48 bytes = %.1f MB; memory target: 3 x that + %d x 1280x800 image = %.1f MB\n",
        n, l / 1e6, t, b / 1e6 }'
[ "$gnu_time" -eq 1 ] || echo "(no /usr/bin/time: peak memory not measured)"

echo
echo "targets:"
kb_budget=$(awk -v b="$budget" 'BEGIN { printf "%.0f", b / 1024 }')
for model in sphere40_1m torus_1m; do
    printf '  %-50s %10s   %s\n' "$model plain <= $plain_limit s" "$(secs "${ours_plain[$model]}" " s")" \
        "$(verdict "${ours_plain[$model]}" '<=' "$plain_limit")"
    speedup=$(ratio "${peer_plain[$model]}" "${ours_plain[$model]}")
    note=""
    [ "$peer" -eq 1 ] || note=" (no peer)"
    printf '  %-50s %10s   %s%s\n' "$model plain >= ${speedup_target}x faster than the peer" "$speedup" \
        "$(verdict "${speedup%x}" '>=' "$speedup_target")" "$note"
done
printf '  %-50s %10s   %s\n' "sphere40_1m anti-aliased <= $aa_limit s" "$(secs "${ours_aa[sphere40_1m]}" " s")" \
    "$(verdict "${ours_aa[sphere40_1m]}" '<=' "$aa_limit")"
for mode in plain aa; do
    value=${rss_median[$mode]}
    shown=n/a
    data=n/a
    if [ "$value" != n/a ]; then
        data=$((value - base_kb))
        shown=$(awk -v k="$data" 'BEGIN { printf "%.1f MB", k * 1024 / 1e6 }')
    fi
    printf '  %-50s %10s   %s\n' "sphere40_1m $([ "$mode" = aa ] && echo anti-aliased || echo plain) memory above the base <= $(awk -v b="$budget" 'BEGIN { printf "%.1f MB", b / 1e6 }')" \
        "$shown" "$(verdict "$data" '<=' "$kb_budget")"
done
