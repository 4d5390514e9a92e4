#!/usr/bin/env bash
# Writes the two calibration models and the twelve calibration jobs into a folder, made the
# way the build makes the ones compiled into Tessora, to look at them or print them by hand.
#
#   desktop/calibration/make-calibration-prints.sh BUILD_DIR OUTDIR [--export]
#
# BUILD_DIR is a configured build folder; the generator and tessora-cli are built there
# first when needed. OUTDIR receives
#   calibration_tolerance.stl, calibration_dimensionalAccuracy.stl   the models
#   calibration_{20,50,100}layer_{75Q,100P}.ssj                      the tolerance jobs
#   dimensionalAccuracy_{20,50,100}layer_{75Q,100P}.ssj              the dimensional jobs
#   NAME.json                                                        `ssj info --json` of each job
# and with --export also NAME/layer_00000.png ... (every layer as the printer projects it).
set -euo pipefail

usage() {
    echo "usage: $0 BUILD_DIR OUTDIR [--export]" >&2
    exit 2
}

[ $# -ge 2 ] && [ $# -le 3 ] || usage
build=$1
out=$2
export_layers=0
if [ $# -eq 3 ]; then
    [ "$3" = "--export" ] || usage
    export_layers=1
fi

cmake --build "$build" --target tessora-calibration-models tessora-cli
generator="$build/bin/tessora-calibration-models"
cli="$build/bin/tessora-cli"
# A sanitizer build must not fail over allocations Qt keeps at exit.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

mkdir -p "$out"
"$generator" "$out"
for print in calibration dimensionalAccuracy; do
    if [ "$print" = calibration ]; then
        model="$out/calibration_tolerance.stl"
    else
        model="$out/calibration_dimensionalAccuracy.stl"
    fi
    for thickness in 20 50 100; do
        for printer in 75Q 100P; do
            name="${print}_${thickness}layer_${printer}"
            printer_option=()
            [ "$printer" = 75Q ] && printer_option=(--printer-75)
            # Progress stays quiet; a failure shows the whole log.
            if ! log=$("$cli" slice "$model" -o "$out/$name.ssj" --layer "$thickness" "${printer_option[@]}" 2>&1); then
                echo "$log" >&2
                exit 1
            fi
            "$cli" ssj info "$out/$name.ssj" --json >"$out/$name.json"
            if [ "$export_layers" -eq 1 ] && ! log=$("$cli" ssj export "$out/$name.ssj" "$out/$name" 2>&1); then
                echo "$log" >&2
                exit 1
            fi
            echo "$out/$name.ssj"
        done
    done
done
