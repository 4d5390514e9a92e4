#!/usr/bin/env bash
# Job transfer throughput over loopback, next to raw TCP copies of the same bytes in
# the same run: tessora-cli print sends a 100 MB file to vatnode (against the
# simulated board). The job's layers are random noise, so they do not compress: about
# 3 MB each. Each measurement runs ROUNDS times, interleaved, and the median is shown:
# single loopback transfers of 100 MB last a tenth of a second and vary a lot.
#
# Raw TCP is measured twice: into a sink that drops the bytes, and into a file, as the
# printer must store the job before printing it.
#
#   bench/transfer_throughput.sh BUILD_DIR [MEGABYTES] [ROUNDS]
set -euo pipefail
build=${1:?build folder, such as build-release}
megabytes=${2:-100}
rounds=${3:-3}
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
"$bin/tessora-cli" ssj pack "$work"/layers/layer_*.ppm -o "$work/big.ssj" --anti-aliased >/dev/null 2>&1
rm -rf "$work/layers"
echo "job: $layers noise layers, $(( $(stat -c %s "$work/big.ssj") / 1000000 )) MB, $rounds rounds"

raw_copy() { # discard|file -> MB/s
    python3 - "$work/big.ssj" "$1" "$work/raw-copy" <<'PY'
import socket, sys, threading, time
data = open(sys.argv[1], 'rb').read()
server = socket.socket(); server.bind(('127.0.0.1', 0)); server.listen(1)
def sink():
    conn, _ = server.accept()
    out = open(sys.argv[3], 'wb') if sys.argv[2] == 'file' else None
    while True:
        piece = conn.recv(1 << 20)
        if not piece:
            break
        if out:
            out.write(piece)
    if out:
        out.close()
t = threading.Thread(target=sink); t.start()
client = socket.create_connection(server.getsockname())
start = time.time(); client.sendall(data); client.close(); t.join()
print(f"{len(data) / 1e6 / (time.time() - start):.0f}")
PY
}

"$bin/vatnode-boardsim" --link "$work/board" --speed 0.02 >/dev/null &
board=$!
sleep 0.5
QT_QUICK_BACKEND=software xvfb-run -a -s "-screen 0 1280x800x24" \
    "$bin/vatnode" --workdir "$work/printer" --serial-port "$work/board" --time-scale 0.1 \
    --discovery-port 49981 >/dev/null 2>&1 &

job_transfer() { # -> MB/s, from tessora-cli's "sent ... (N MB/s)" line
    "$bin/tessora-cli" print "$work/big.ssj" --resin Clear --wait 60 --time-scale 0.1 \
        --discovery-target 127.0.0.1 --discovery-port 49981 --base-port 50700 2>&1 \
        | sed -n 's/^sent .*(\([0-9.]*\) MB\/s)$/\1/p'
}

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else print v[int((NR + 1) / 2)] }'; }

: >"$work/discard"; : >"$work/file"; : >"$work/job"
for round in $(seq "$rounds"); do
    raw_copy discard >>"$work/discard"
    raw_copy file >>"$work/file"
    job_transfer >>"$work/job"
    echo "round $round: raw $(tail -1 "$work/discard") MB/s, raw into a file $(tail -1 "$work/file") MB/s," \
        "job transfer $(tail -1 "$work/job") MB/s"
done
echo "median: raw TCP $(median <"$work/discard") MB/s, raw TCP into a file $(median <"$work/file") MB/s," \
    "job transfer $(median <"$work/job") MB/s"
