#!/usr/bin/env bash
# The printer-time estimate next to the simulated printer's real time.
#
# Five jobs of different heights and layer thicknesses are packed with tessora-cli, timed
# with `tessora-cli ssj info --printer-time --json` (which also gives the job line the
# desktop would send), then printed from disk by vatnode on vatnode-boardsim, both at the
# same time scale. Measured: from vatnode's "printing" line to its "print done" line (the
# board's reset, the first-layer wait, every exposure and motion cycle, the final movement).
# The estimate is in the printer's seconds, so it is compared times the scale. A job PASSes
# within 3 %. The last column is what the estimate leaves out, per layer: the programs' own
# costs (a layer unpacked, a frame drawn, lines on the serial port, threads woken), which do
# not shrink with the scale; on a printer at full time they are that many milliseconds in a
# layer of several seconds.
#
#   bench/estimate_check.sh BUILD_DIR
#
# SCALE (default 0.1) is the time scale, RESIN (default Clear) the resin. The programs run
# on an off-screen platform with the software scene; no network traffic leaves loopback.
set -euo pipefail

build=${1:?usage: bench/estimate_check.sh BUILD_DIR}
bin=$(cd "$build" && pwd)/bin
scale=${SCALE:-0.1}
resin=${RESIN:-Clear}
limit=3

work=$(mktemp -d)
board_pid=
cleanup() {
    if [ -n "$board_pid" ]; then kill "$board_pid" 2>/dev/null || true; wait "$board_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# One layer image: a lit rectangle on 1280 x 800 (grey PNG, written without extra modules).
python3 - "$work/layer.png" <<'EOF'
import struct, sys, zlib
w, h = 1280, 800
row_lit = b"\x00" + b"\x00" * 500 + b"\xff" * 280 + b"\x00" * (w - 780)
row_dark = b"\x00" + b"\x00" * w
raw = b"".join(row_lit if 300 <= y < 500 else row_dark for y in range(h))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
with open(sys.argv[1], "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
EOF

free_udp_port() {
    python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Prints one job; echoes the measured seconds, or "failed".
measure() {
    local job=$1 fields=$2 dir=$3
    mkdir -p "$dir"
    "$bin/vatnode-boardsim" --link "$dir/board" --speed "$scale" >"$dir/board.out" 2>&1 &
    board_pid=$!
    for _ in $(seq 50); do [ -L "$dir/board" ] && break; sleep 0.1; done
    local start= end=
    while IFS= read -r line; do
        case $line in
            "vatnode: printing "*) start=$(date +%s.%N) ;;
            "vatnode: print done") end=$(date +%s.%N) ;;
        esac
        echo "$line" >>"$dir/vatnode.err"
    done < <(TESSORA_DISCOVERY_TARGET=127.0.0.1 QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software \
        QT_LOGGING_RULES='*.debug=false' timeout 1800 "$bin/vatnode" --workdir "$dir/work" \
        --system-root "$dir/root" --serial-port "$dir/board" --time-scale "$scale" \
        --discovery-port "$(free_udp_port)" --print-file "$job" --job "$fields" 2>&1)
    kill "$board_pid" 2>/dev/null || true
    wait "$board_pid" 2>/dev/null || true
    board_pid=
    if [ -n "$start" ] && [ -n "$end" ]; then
        python3 -c "print(f'{$end - $start:.3f}')"
    else
        echo failed
    fi
}

# name, layer thickness (mm), layers
jobs=(
    "short-100um 0.1 10"
    "low-50um 0.05 40"
    "fine-20um 0.02 100"
    "tall-100um 0.1 60"
    "tall-50um 0.05 120"
)

echo "time scale $scale, resin $resin; times in seconds of this machine (printer seconds x $scale)"
printf '%-12s %7s %10s %10s %10s %8s  %-6s %s\n' job layers thickness estimated measured error% result \
    'ms/layer not estimated'
misses=0
for entry in "${jobs[@]}"; do
    read -r name thickness layers <<<"$entry"
    job="$work/$name.ssj"
    images=()
    for _ in $(seq "$layers"); do images+=("$work/layer.png"); done
    "$bin/tessora-cli" ssj pack "${images[@]}" -o "$job" --thickness "$thickness" >/dev/null 2>&1
    info=$("$bin/tessora-cli" ssj info "$job" --json --printer-time --resin "$resin")
    read -r seconds fields < <(python3 -c 'import json, sys; t = json.loads(sys.argv[1])["printerTime"]; print(t["seconds"], t["job"])' "$info")
    estimated=$(python3 -c "print(f'{$seconds * $scale:.3f}')")
    measured=$(measure "$job" "$fields" "$work/run-$name")
    if [ "$measured" = failed ]; then
        printf '%-12s %7s %8s mm %10s %10s %8s  %s\n' "$name" "$layers" "$thickness" "$estimated" - - "MISS (print failed)"
        tail -5 "$work/run-$name/vatnode.err" >&2 || true
        misses=$((misses + 1))
        continue
    fi
    read -r error result overhead < <(python3 -c "
e = ($estimated - $measured) / $measured * 100
print(f'{e:+.2f}', 'PASS' if abs(e) <= $limit else 'MISS', f'{($measured - $estimated) / $layers * 1000:.1f}')")
    [ "$result" = PASS ] || misses=$((misses + 1))
    printf '%-12s %7s %8s mm %10s %10s %8s  %-6s %s\n' "$name" "$layers" "$thickness" "$estimated" "$measured" \
        "$error" "$result" "$overhead"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$misses" -eq 0 ]; then
    echo "PASS: every estimate within $limit % of the measured time"
else
    echo "MISS: $misses of ${#jobs[@]} jobs outside $limit %"
    exit 1
fi
