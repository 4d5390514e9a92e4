#!/usr/bin/env bash
# Proves that the tests catch faults: applies each deliberate fault (mutant) of
# tools/mutants.txt to the source, one at a time, rebuilds the targets the
# mutant names, runs the tests of its area (a CTest regex) and puts the file
# back. A mutant is CAUGHT when a test fails (or times out), MISSED when every
# test passes. A mutant whose original text is no longer in its file exactly
# once is NOT APPLICABLE, and one that does not build is BUILD FAILED: both are
# faults of the table, to be brought up to date with the code.
#
#     bash tools/mutants.sh [-B BUILD_DIR] [-l | -c] [-n] [NAME...]
#
#   -B BUILD_DIR  where to build (default build-mutants/: Debug, tests on,
#                 through ccache when it is there; configured on first use)
#   -l            list the mutants and stop
#   -c            only check that every original text is in its file once
#   -n            skip the first run of the same tests on the unchanged tree
#                 (which makes sure a failure is the mutant's, not the tree's)
#   NAME...       run only these mutants (default: all)
#
# A mutant that makes a test hang is caught when CTest kills the test at its
# time-out (the test's TIMEOUT property; MUTANT_TEST_TIMEOUT, default 300 s,
# for a test without one). Whatever happens, every file is put back as it was
# (an interrupted run first lets the build or test in progress end). Exit
# status 0 only when every mutant run was caught.
set -euo pipefail
cd "$(dirname "$0")/.."

table=tools/mutants.txt
build=build-mutants
list_only=0
check_only=0
baseline=1
while getopts "B:lcnh" option; do
    case $option in
    B) build=$OPTARG ;;
    l) list_only=1 ;;
    c) check_only=1 ;;
    n) baseline=0 ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
    esac
done
shift $((OPTIND - 1))

work=$(mktemp -d)
mutated=""
restore() {
    if [ -n "$mutated" ]; then
        cp "$work/original" "$mutated"
        mutated=""
    fi
}
trap 'restore; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# The table reader: "names" lists the mutants, "field NAME KEY" prints one
# field, "apply NAME" swaps the original text for the replacement in place and
# "check NAME" only looks (both exit 3 when the original is not there exactly
# once).
helper() {
    python3 - "$table" "$@" <<'PY'
import sys

def read(path):
    mutants, current, block, lines = [], None, None, []
    for number, line in enumerate(open(path, encoding="utf-8").read().split("\n"), 1):
        if block is not None:
            if line == ">>>":
                current[block] = "\n".join(lines)
                block, lines = None, []
            else:
                lines.append(line)
        elif line.startswith("[") and line.endswith("]"):
            current = {"name": line[1:-1]}
            mutants.append(current)
        elif line.endswith("<<<") and current is not None:
            block = line[:-3].strip()
        elif line.strip() and not line.startswith("#"):
            key, _, value = line.partition("=")
            if current is None or not _:
                sys.exit("%s:%d: not a line of the table: %s" % (path, number, line))
            current[key.strip()] = value.strip()
    for m in mutants:
        for key in ("library", "file", "fault", "targets", "tests", "original", "replacement"):
            if key not in m:
                sys.exit("%s: mutant %s has no %s" % (path, m["name"], key))
    return mutants

table, command = sys.argv[1], sys.argv[2]
mutants = read(table)
if command == "names":
    print("\n".join(m["name"] for m in mutants))
    sys.exit(0)
byName = {m["name"]: m for m in mutants}
if sys.argv[3] not in byName:
    sys.exit("no mutant named %s in %s" % (sys.argv[3], table))
m = byName[sys.argv[3]]
if command == "field":
    print(m[sys.argv[4]])
elif command in ("apply", "check"):
    try:
        text = open(m["file"], encoding="utf-8").read()
    except OSError:
        sys.exit(3)
    if text.count(m["original"]) != 1:
        sys.exit(3)
    if command == "apply":
        open(m["file"], "w", encoding="utf-8").write(text.replace(m["original"], m["replacement"]))
PY
}

mapfile -t all < <(helper names)
names=("$@")
[ ${#names[@]} -gt 0 ] || names=("${all[@]}")
if [ "$list_only" = 1 ]; then
    for name in "${names[@]}"; do
        printf '%-32s %-22s %s\n' "$name" "$(helper field "$name" library)" "$(helper field "$name" fault)"
    done
    exit 0
fi
if [ "$check_only" = 1 ]; then
    bad=0
    for name in "${names[@]}"; do
        if ! helper check "$name"; then
            printf '%-32s NOT APPLICABLE (its original text is not in %s exactly once)\n' "$name" \
                "$(helper field "$name" file)"
            bad=$((bad + 1))
        fi
    done
    echo "${#names[@]} mutants, $bad not applicable"
    [ "$bad" -eq 0 ]
    exit
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    launcher=()
    if command -v ccache >/dev/null; then
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSORA_BUILD_TESTS=ON -DTESSORA_BUILD_BENCH=OFF \
        "${launcher[@]}" >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
fi

# Runs the tests matching $1 into $work/ctest.log; the status is ctest's.
run_tests() {
    (cd "$build" && QT_QPA_PLATFORM=offscreen ctest -R "$1" -j 2 --timeout "${MUTANT_TEST_TIMEOUT:-300}" \
        --output-on-failure) >"$work/ctest.log" 2>&1
}

start=$SECONDS
if [ "$baseline" = 1 ]; then
    all_targets=()
    all_tests=()
    for name in "${names[@]}"; do
        read -r -a targets <<<"$(helper field "$name" targets)"
        all_targets+=("${targets[@]}")
        all_tests+=("$(helper field "$name" tests)")
    done
    mapfile -t all_targets < <(printf '%s\n' "${all_targets[@]}" | sort -u)
    mapfile -t all_tests < <(printf '%s\n' "${all_tests[@]}" | sort -u)
    # No groups around the alternatives: CTest's regular expressions allow ten at most.
    regex=$(IFS='|'; echo "${all_tests[*]}")
    echo "unchanged tree: building ${#all_targets[@]} targets and running their tests"
    if ! cmake --build "$build" -j 2 --target "${all_targets[@]}" >"$work/build.log" 2>&1; then
        tail -n 20 "$work/build.log"
        echo "the unchanged tree does not build"
        exit 1
    fi
    if ! run_tests "$regex"; then
        sed -n '/The following tests FAILED/,$p' "$work/ctest.log"
        echo "tests fail on the unchanged tree: no mutant run would mean anything"
        exit 1
    fi
    if ! grep -q -E 'tests passed, 0 tests failed out of [1-9]' "$work/ctest.log"; then
        tail -n 5 "$work/ctest.log"
        echo "no test ran on the unchanged tree"
        exit 1
    fi
    echo "unchanged tree: $(grep -E 'tests passed' "$work/ctest.log") in $((SECONDS - start)) s"
    echo
fi

caught=0
failed=0
for name in "${names[@]}"; do
    file=$(helper field "$name" file)
    read -r -a targets <<<"$(helper field "$name" targets)"
    tests=$(helper field "$name" tests)
    began=$SECONDS
    if [ -f "$file" ]; then
        cp "$file" "$work/original"
        mutated=$file
    fi
    if [ -z "$mutated" ] || ! helper apply "$name"; then
        restore
        printf '%-32s NOT APPLICABLE (its original text is not in %s exactly once)\n' "$name" "$file"
        failed=$((failed + 1))
        continue
    fi
    if ! cmake --build "$build" -j 2 --target "${targets[@]}" >"$work/build.log" 2>&1; then
        restore
        printf '%-32s BUILD FAILED\n' "$name"
        grep -m 3 -E 'error|Error' "$work/build.log" | sed 's/^/    /' || true
        failed=$((failed + 1))
        continue
    fi
    status=0
    run_tests "$tests" || status=$?
    restore
    seconds=$((SECONDS - began))
    ran=$(sed -n -E 's/.*tests passed, [0-9]+ tests failed out of ([0-9]+).*/\1/p' "$work/ctest.log")
    if [ -z "$ran" ] || [ "$ran" = 0 ]; then
        printf '%-32s NO TESTS (the regex %s matches no test)\n' "$name" "$tests"
        failed=$((failed + 1))
    elif [ "$status" -ne 0 ]; then
        first=$(sed -n -E '/The following tests FAILED/,$ s/^[[:space:]]*[0-9]+ - ([^ ]+) \((.*)\).*/\1 (\2)/p' \
            "$work/ctest.log" | head -n 1)
        printf '%-32s CAUGHT by %s  [%ss]\n' "$name" "${first:-ctest exit $status}" "$seconds"
        caught=$((caught + 1))
    else
        printf '%-32s MISSED (%s tests passed)  [%ss]\n' "$name" "$ran" "$seconds"
        failed=$((failed + 1))
    fi
done

echo
echo "$caught of ${#names[@]} mutants caught, $failed not, in $((SECONDS - start)) s"
[ "$failed" -eq 0 ]
