#!/usr/bin/env bash
# Runs the desktop's VatnodeUpdateScript in a scratch printer folder, with sudo, pkill and
# systemctl played by stand-ins on PATH: with the vatnode service installed the new
# program is restarted through the service; without it the old program is stopped and
# the new one started on the real system (--live-system). Usage: test_updatescript.sh SCRIPT
set -euo pipefail
script=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

mkdir "$scratch/bin"
cat >"$scratch/bin/sudo" <<'STANDIN'
#!/bin/sh
exec "$@"
STANDIN
cat >"$scratch/bin/pkill" <<'STANDIN'
#!/bin/sh
echo "pkill $*" >>"$CALLS"
STANDIN
cat >"$scratch/bin/systemctl" <<'STANDIN'
#!/bin/sh
echo "systemctl $*" >>"$CALLS"
[ "$1" != cat ] || [ "$UNIT_INSTALLED" = yes ]
STANDIN
chmod +x "$scratch/bin"/*

# run CASE UNIT_INSTALLED: a printer folder with an old and a new program; waits for the
# detached work to end (the last call it makes) and leaves the calls in CASE/calls.
run() {
    local home="$scratch/$1"
    mkdir "$home"
    printf '#!/bin/sh\necho "old $*" >>"%s/started"\n' "$home" >"$home/Vatnode"
    printf '#!/bin/sh\necho "new $*" >>"%s/started"\n' "$home" >"$home/NewVatnode"
    cp "$script" "$home/VatnodeUpdateScript"
    chmod 700 "$home/VatnodeUpdateScript" "$home/Vatnode" "$home/NewVatnode"
    PATH="$scratch/bin:$PATH" CALLS="$home/calls" UNIT_INSTALLED=$2 "$home/VatnodeUpdateScript"
    for _ in $(seq 100); do
        if grep -q restart "$home/calls" 2>/dev/null || [ -s "$home/started" ]; then
            return 0
        fi
        sleep 0.1
    done
    echo "FAIL: $1: the update did not finish within 10 s"
    failures=$((failures + 1))
}
expect() {
    if ! eval "$2"; then
        echo "FAIL: $1"
        failures=$((failures + 1))
    fi
}

run with-service yes
home="$scratch/with-service"
expect "with the service: restarted through it" 'grep -qx "systemctl --no-block restart vatnode" "$home/calls"'
expect "with the service: nothing killed by name" '! grep -q pkill "$home/calls"'
expect "with the service: no program started by the script" '[ ! -e "$home/started" ]'
expect "with the service: new program in place" 'grep -q new "$home/Vatnode"'
expect "with the service: old program kept" 'grep -q old "$home/Vatnode_previous"'

run without-service no
home="$scratch/without-service"
expect "without the service: old program stopped" 'grep -qx "pkill -x Vatnode" "$home/calls"'
expect "without the service: new program started live" 'grep -qx "new --live-system" "$home/started"'
expect "without the service: no restart asked" '! grep -q restart "$home/calls"'
expect "without the service: old program kept" 'grep -q old "$home/Vatnode_previous"'

if [ "$failures" -ne 0 ]; then
    echo "update script: $failures failed"
    exit 1
fi
echo "update script: passed"
