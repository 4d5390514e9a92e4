#!/usr/bin/env bash
# A private OpenSSH server on loopback for the SSH tests, with its own configuration,
# host key and a dedicated test account whose password is the printers' factory
# password.
#
#   sshd-fixture.sh start DIR   writes DIR/port once sshd listens on 127.0.0.1
#   sshd-fixture.sh stop DIR    stops that sshd
#
# Without root or without sshd, start writes DIR/skip with the reason and succeeds, so
# the tests skip; any other failure to start fails.
set -euo pipefail

action=${1:?start or stop}
dir=${2:?state folder}
account=tessora-sshtest
home=/var/tmp/tessora-sshtest
password=quietharbours
sshd=/usr/sbin/sshd

stop() {
    if [ -f "$dir/sshd.pid" ]; then
        kill "$(cat "$dir/sshd.pid")" 2>/dev/null || true
        rm -f "$dir/sshd.pid"
    fi
    rm -f "$dir/port"
}

if [ "$action" = stop ]; then
    stop
    exit 0
fi

mkdir -p "$dir"
stop
rm -f "$dir/skip"
if [ "$(id -u)" -ne 0 ]; then
    echo "needs root to run sshd with a test account" | tee "$dir/skip"
    exit 0
fi
if [ ! -x "$sshd" ] || ! command -v ssh-keygen >/dev/null; then
    echo "OpenSSH server not installed" | tee "$dir/skip"
    exit 0
fi

if ! id "$account" >/dev/null 2>&1; then
    useradd --home-dir "$home" --create-home --shell /bin/sh "$account"
fi
mkdir -p "$home"
chown "$account:" "$home"
echo "$account:$password" | chpasswd

[ -f "$dir/host_ed25519" ] || ssh-keygen -q -t ed25519 -N '' -f "$dir/host_ed25519"
mkdir -p /run/sshd
chmod 755 /run/sshd

for attempt in $(seq 0 40); do
    port=$(( 20000 + (RANDOM % 20000) ))
    cat >"$dir/sshd_config" <<EOF
Port $port
ListenAddress 127.0.0.1
HostKey $dir/host_ed25519
PidFile $dir/sshd.pid
AllowUsers $account
PasswordAuthentication yes
KbdInteractiveAuthentication no
PubkeyAuthentication no
UsePAM no
PermitRootLogin no
AuthorizedKeysFile none
StrictModes no
Subsystem sftp internal-sftp
LogLevel ERROR
EOF
    if "$sshd" -f "$dir/sshd_config" -E "$dir/sshd.log"; then
        for _ in $(seq 50); do
            [ -s "$dir/sshd.pid" ] && break
            sleep 0.1
        done
        echo "$port" >"$dir/port"
        echo "$account" >"$dir/user"
        echo "$home" >"$dir/home"
        echo "sshd on 127.0.0.1:$port for $account"
        exit 0
    fi
done
echo "sshd did not start; see $dir/sshd.log" >&2
exit 1
