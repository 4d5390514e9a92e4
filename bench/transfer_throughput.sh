#!/usr/bin/env bash
# Job transfer throughput over loopback, next to a raw TCP copy of the same
# bytes in the same run: tessora-cli print sends a 100 MB file to vatnode
# (against the simulated board). The job's layers are random noise, so they
# do not compress: about 3 MB each.
#
#   bench/transfer_throughput.sh BUILD_DIR [MEGABYTES]
set -euo pipefail
build=${1:?build folder, such as build-release}
megabytes=${2:-100}
bin="$build/bin"
work=$(mktemp -d)
cleanup() {
    pkill -f "^$bin/vatnode --workdir $work/printer" 2>/dev/null || true
    kill ${board:-} 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

layers=$(( (megabytes + 2) / 3 ))
mkdir -p "$work/layers"
for i in $(seq -w 1 "$layers"); do
    { printf 'P6\n1280 800\n255\n'; head -c 3072000 /dev/urandom; } >"$work/layers/layer_$i.ppm"
done
"$bin/tessora-cli" ssj pack "$work"/layers/layer_*.ppm -o "$work/big.ssj" --anti-aliased 2>/dev/null
rm -rf "$work/layers"
echo "job: $layers noise layers, $(( $(stat -c %s "$work/big.ssj") / 1000000 )) MB"

# Raw TCP: the same bytes from one socket to another on loopback.
if command -v python3 >/dev/null; then
    python3 - "$work/big.ssj" <<'PY'
import socket, sys, threading, time
data = open(sys.argv[1], 'rb').read()
server = socket.socket(); server.bind(('127.0.0.1', 0)); server.listen(1)
def sink():
    conn, _ = server.accept()
    while conn.recv(1 << 20):
        pass
t = threading.Thread(target=sink); t.start()
client = socket.create_connection(server.getsockname())
start = time.time(); client.sendall(data); client.close(); t.join()
seconds = time.time() - start
print(f"raw TCP: {len(data) / 1e6:.1f} MB in {seconds:.2f} s ({len(data) / 1e6 / seconds:.1f} MB/s)")
PY
fi

"$bin/vatnode-boardsim" --link "$work/board" --speed 0.1 >/dev/null &
board=$!
sleep 0.5
QT_QUICK_BACKEND=software xvfb-run -a -s "-screen 0 1280x800x24" \
    "$bin/vatnode" --workdir "$work/printer" --serial-port "$work/board" --time-scale 0.1 \
    --discovery-port 49981 >/dev/null 2>&1 &
"$bin/tessora-cli" print "$work/big.ssj" --resin Clear --wait 60 --time-scale 0.1 \
    --discovery-target 127.0.0.1 --discovery-port 49981 --base-port 50700 2>&1 | grep -E "^sent|^error" || true
