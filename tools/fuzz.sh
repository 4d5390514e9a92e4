#!/usr/bin/env bash
# Runs the fuzz targets of fuzz/ with libFuzzer.
#
#     tools/fuzz.sh [SECONDS] [TARGET...]
#
# Builds the targets with clang into build-fuzz/ (AddressSanitizer and UndefinedBehavior-
# Sanitizer, libFuzzer's coverage in the libraries they read through), then runs each
# TARGET for SECONDS (default 600), two at a time. Targets: jobfile resinlist grayscale
# mesh_stl mesh_obj printerlink desktoplink (default: all of them).
#
# Each target starts from its seeds (fuzz/corpus/<target>) and the inputs that once failed
# (fuzz/regressions/<target>), and keeps what it finds in build-fuzz/corpus/<target>, so a
# later run goes on where the last one stopped. A crash, a hang (10 s on one input), running
# out of memory (2 GB) or a broken rule stops that target; its input is left in
# build-fuzz/findings/<target>/ and the exit status is 1. With FUZZ_KEEP_GOING=1 a target
# goes on after such a finding (libFuzzer's fork mode) and collects every one. Copy an
# input that found a fault into fuzz/regressions/<target>/ so the replay tests of the
# normal build cover it. Replay one input with its log:
#
#     TESSORA_FUZZ_LOG=1 build-fuzz/bin/fuzz_<target> INPUT
#
# Environment: FUZZ_BUILD (build folder, default build-fuzz), FUZZ_JOBS (targets at a
# time, default 2), FUZZ_KEEP_GOING (1: see above), FUZZ_ARGS (more libFuzzer options for
# every target).
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(jobfile resinlist grayscale mesh_stl mesh_obj printerlink desktoplink)
seconds=600
if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
targets=("${@:-${all_targets[@]}}")
for target in "${targets[@]}"; do
    if [[ ! " ${all_targets[*]} " =~ " $target " ]]; then
        echo "unknown fuzz target: $target (known: ${all_targets[*]})" >&2
        exit 2
    fi
done

# Absolute paths everywhere below: a target may change its working folder (the printer's
# session works in a scratch folder of its own).
build=$(realpath -m "${FUZZ_BUILD:-build-fuzz}")
jobs=${FUZZ_JOBS:-2}
keep_going=
if [ "${FUZZ_KEEP_GOING:-0}" = 1 ]; then
    keep_going="-fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1"
fi

# Options of single targets: the longest input, a little above the largest seed so that
# inputs stay quick. Job files of the projector's size and grids of the largest size take
# a good part of a second each under the sanitizers: favour the inputs that run quickly.
# One printer session serves every printerlink input and keeps what they leave (resins, a
# job for a reprint, its log): no input frees all it allocates, and a leak scan after each
# would take most of the time.
target_args() {
    case $1 in
        jobfile) echo "-max_len=65536 -entropic_scale_per_exec_time=1" ;;
        grayscale) echo "-max_len=16384 -entropic_scale_per_exec_time=1" ;;
        printerlink) echo "-max_len=32768 -detect_leaks=0" ;;
        mesh_stl | mesh_obj | desktoplink) echo "-max_len=16384" ;;
        *) echo "-max_len=4096" ;;
    esac
}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DTESSORA_FUZZ=ON \
        -DTESSORA_BUILD_TESTS=OFF -DTESSORA_BUILD_BENCH=OFF -DTESSORA_WERROR=OFF >/dev/null
fi
cmake --build "$build" --target "${targets[@]/#/fuzz_}" -- -j 2

mkdir -p "$build/logs"
export QT_QPA_PLATFORM=offscreen
# A small quarantine: freed memory is reused sooner, which spares most of the page faults
# that otherwise cost these allocation-heavy readers three quarters of their time.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:quarantine_size_mb=16}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}

run_target() {
    local target=$1
    mkdir -p "$build/corpus/$target" "$build/findings/$target"
    touch "$build/logs/$target.start"
    local inputs=("$build/corpus/$target" "$PWD/fuzz/corpus/$target")
    [ -d "fuzz/regressions/$target" ] && inputs+=("$PWD/fuzz/regressions/$target")
    [ -f "fuzz/dictionaries/$target.dict" ] && inputs+=("-dict=$PWD/fuzz/dictionaries/$target.dict")
    # shellcheck disable=SC2046,SC2086
    "$build/bin/fuzz_$target" "${inputs[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/findings/$target/" $keep_going \
        $(target_args "$target") ${FUZZ_ARGS:-} >"$build/logs/$target.log" 2>&1
    echo $? >"$build/logs/$target.status"
}

# Inputs this run of the target left in its findings folder.
new_findings() {
    find "$build/findings/$1" -type f -newer "$build/logs/$1.start" | sort
}

# One line per target: its status and the last coverage line of its log.
summary() {
    local last
    last=$(grep -E '^#[0-9]+' "$build/logs/$1.log" | tail -n 1 | grep -oE '^#[0-9]+|cov: [0-9]+ ft: [0-9]+' |
        tr '\n' ' ' || true)
    printf '%-12s %-6s %s\n' "$1" "$2" "${last:-?}"
}

echo "fuzzing ${targets[*]} for $seconds s each, $jobs at a time; logs in $build/logs/"
export build seconds keep_going
export -f run_target target_args
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_target {}'
failed=()
for target in "${targets[@]}"; do
    if [ "$(cat "$build/logs/$target.status")" = 0 ] && [ -z "$(new_findings "$target")" ]; then
        summary "$target" ok
    else
        summary "$target" FAILED
        failed+=("$target")
    fi
done

for target in "${failed[@]}"; do
    echo
    echo "== $target: $(grep -m1 -E 'ERROR: |rule broken' "$build/logs/$target.log" || echo 'see the log')"
    new_findings "$target" | sed 's/^/   input: /'
    echo "   log: $build/logs/$target.log"
done
[ ${#failed[@]} -eq 0 ]
