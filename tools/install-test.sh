#!/usr/bin/env bash
# Installs the two Debian packages into a fresh Debian root and uses them from there, as a
# user of a printer would, then purges them and checks that nothing they put there is left.
#   bash tools/install-test.sh [PACKAGE_DIR]     (default: build-package, made by tools/package.sh)
# The root is a minimal bookworm from the machine's own Debian mirror (debootstrap, as root),
# kept as build-install-root/bookworm-minbase.tar.gz between runs and unpacked afresh each
# time; the Debian packages it downloads are kept in build-install-root/archives. Nothing
# is started as a service: there is no systemd in the root, a policy-rc.d forbids starting
# services, and the printer's user does not exist there (so the postinst leaves
# vatnode.service disabled). Inside the root, vatnode-boardsim plays the motor board,
# vatnode runs in simulation (offscreen, sped up) and tessora-cli prints a job sliced by the
# installed tessora-cli, all on loopback. Prints one line per step and a verdict; exit 0 when
# every step passed.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
packages=$(realpath "${1:-build-package}")
cache=build-install-root
root="$PWD/$cache/root"
tarball="$cache/bookworm-minbase.tar.gz"
work=/tmp/install-test          # inside the root
home=/root
scale=0.02
discovery_port=49981
base_port=50700
start=$SECONDS
failures=0

step() {
    echo "install-test: $1: $2 ($((SECONDS - start)) s)"
    [ "$2" = passed ] || failures=$((failures + 1))
}
# finish: the verdict and the exit status (the EXIT trap stops what was started and
# unmounts what was mounted).
finish() {
    echo "install-test: $([ "$failures" -eq 0 ] && echo PASSED || echo "FAILED ($failures)") in $((SECONDS - start)) s"
    [ "$failures" -eq 0 ] || exit 1
    exit 0
}
fail_now() {
    step "$1" "FAILED: $2"
    finish
}
# in_root COMMAND...: COMMAND in the root, with a clean environment; the programs' own files
# (caches) go to a home in the test's folder.
in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$home" LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}
# in_root_exec COMMAND...: the same in place of the calling (sub)shell, so that "&" gives
# the program's own process id.
in_root_exec() {
    exec chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$home" LANG=C.UTF-8 "$@"
}
mounted=()
pids=()
stop_programs() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    pids=()
}
cleanup() {
    stop_programs
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null
    done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

[ "$(id -u)" -eq 0 ] || fail_now "root" "debootstrap, chroot and mount need root"
if ! command -v debootstrap >/dev/null; then
    apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap >/dev/null ||
        fail_now "debootstrap" "could not be installed"
fi
debs=("$packages"/tessora_*_amd64.deb "$packages"/vatnode_*_amd64.deb)
[ -f "${debs[0]}" ] && [ -f "${debs[1]}" ] || fail_now "packages" "no tessora and vatnode packages in $packages (bash tools/package.sh makes them)"

# The machine's Debian mirror: the first bookworm source of apt's lists.
mirror() {
    local found
    found=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
        awk '/^URIs:/ {uri = $2} /^Suites:/ {for (i = 2; i <= NF; i++) if ($i == "bookworm") {print uri; exit}}')
    [ -n "$found" ] || found=$(grep -hs '^deb .*bookworm' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
        awk '{print $2}' | grep -v security | head -n1)
    echo "${found:-http://deb.debian.org/debian}"
}

# --- The fresh root.
mkdir -p "$cache"
if [ ! -f "$tarball" ]; then
    rm -rf "$cache/base"
    if ! debootstrap --variant=minbase bookworm "$cache/base" "$(mirror)" >"$cache/debootstrap.log" 2>&1; then
        fail_now "debootstrap" "from $(mirror), see $cache/debootstrap.log"
    fi
    tar -C "$cache/base" -czf "$tarball" . && rm -rf "$cache/base"
    step "debootstrap bookworm minbase from $(mirror)" passed
fi
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xzf "$tarball" || fail_now "fresh root" "cannot unpack $tarball"
cp /etc/resolv.conf "$root/etc/resolv.conf"
printf '#!/bin/sh\n# No service starts in this root.\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
# The root bound onto itself (and private, so that nothing mounted below it shows
# elsewhere) is a mount point, so that its programs find "/" among the mounts (free space
# of the printer's folder); then /proc, and a pseudo-terminal instance of its own for the
# board's link.
for mount in . proc dev/pts; do
    case $mount in
        .) mount --bind "$root" "$root" && mount --make-private "$root" ;;
        proc) mount -t proc proc "$root/proc" ;;
        dev/pts) mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts" ;;
    esac || fail_now "mount /$mount" "refused"
    mounted+=("$root/$mount")
done
rm -f "$root/dev/ptmx"
ln -s pts/ptmx "$root/dev/ptmx"
[ ! -d "$root/run/systemd/system" ] || fail_now "fresh root" "has /run/systemd/system"
step "fresh root in $root" passed

# snapshot FILE: every path of the root but apt's and dpkg's state, logs, caches and the test's
# own workdir.
snapshot() {
    (cd "$root" && find . -xdev \
        -path ./proc -prune -o -path ./dev -prune -o -path ./tmp -prune -o -path ./run -prune -o \
        -path ./var/lib/apt -prune -o -path ./var/lib/dpkg -prune -o -path ./var/cache -prune -o \
        -path ./var/log -prune -o -print) | sort >"$1"
}

# --- Install: Depends come from Debian. They are installed first (apt-get satisfy with the
# packages' Depends and Recommends, as apt-get install would), so that the file list taken
# before installing the packages differs from the one after purging them only by what the
# packages leave behind.
in_root apt-get update -q >"$cache/apt-update.log" 2>&1 || fail_now "apt-get update" "see $cache/apt-update.log"
wanted=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Depends Recommends | sed 's/^[A-Za-z]*: //'; done | paste -sd,)
# The Debian packages downloaded once are kept in $cache/archives for the next run.
mkdir -p "$cache/archives"
find "$cache/archives" -name '*.deb' -exec cp -t "$root/var/cache/apt/archives/" {} +
if ! in_root apt-get satisfy -y -q "$wanted" >"$cache/satisfy.log" 2>&1; then
    tail -n 20 "$cache/satisfy.log"
    fail_now "apt-get satisfy (Depends and Recommends)" "see $cache/satisfy.log"
fi
find "$root/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -exec cp -u -t "$cache/archives/" {} +
step "Depends and Recommends from $(mirror)" passed
snapshot "$cache/before.txt"
mkdir -p "$root/tmp/packages"
cp "${debs[@]}" "$root/tmp/packages/"
if ! in_root sh -c 'apt-get install -y -q /tmp/packages/*.deb' >"$cache/install.log" 2>&1; then
    tail -n 20 "$cache/install.log"
    fail_now "apt-get install" "see $cache/install.log"
fi
step "apt-get install $(cd "$root/tmp/packages" && echo *.deb)" passed
in_root dpkg -L tessora vatnode | sort -u >"$cache/packaged.txt"
if in_root systemctl is-enabled vatnode.service >/dev/null 2>&1 ||
    [ -e "$root/etc/systemd/system/multi-user.target.wants/vatnode.service" ]; then
    step "vatnode.service left disabled (no user pi)" "FAILED: it is enabled"
else
    step "vatnode.service left disabled (no user pi)" passed
fi

# --- Use: a job sliced by the installed tessora-cli, printed on the installed printer program.
mkdir -p "$root$work/home"
home=$work/home
cp tests/data/meshes/binary_zeroheader_tardis_plate.stl "$root$work/plate.stl"
if in_root tessora-cli slice "$work/plate.stl" -o "$work/plate.ssj" --layer 100 >"$root$work/slice.log" 2>&1; then
    step "tessora-cli slice (installed)" passed
else
    step "tessora-cli slice (installed)" "FAILED: see $root$work/slice.log"
fi
for program in tessora tessora-cli vatnode vatnode-boardsim; do
    [ "$(in_root readlink -f "/usr/bin/$program")" = "/usr/bin/$program" ] ||
        step "/usr/bin/$program" "FAILED: not installed there"
done

in_root_exec /usr/bin/vatnode-boardsim --link "$work/board" --speed "$scale" --log "$work/board.log" \
    >"$root$work/boardsim.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    [ -L "$root$work/board" ] && break
    sleep 0.1
done
[ -L "$root$work/board" ] || step "vatnode-boardsim (installed)" "FAILED: no link $work/board"
in_root_exec QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software /usr/bin/vatnode \
    --workdir "$work/printer" --serial-port "$work/board" --time-scale "$scale" \
    --discovery-port "$discovery_port" >"$root$work/vatnode.out" 2>&1 &
pids+=($!)
if in_root /usr/bin/tessora-cli print "$work/plate.ssj" --resin Clear --wait 60 --time-scale "$scale" \
    --discovery-target 127.0.0.1 --discovery-port "$discovery_port" --base-port "$base_port" \
    >"$root$work/print.log" 2>&1; then
    step "tessora-cli print on vatnode and vatnode-boardsim (installed, simulation)" passed
else
    tail -n 5 "$root$work/print.log"
    step "tessora-cli print on vatnode and vatnode-boardsim (installed, simulation)" \
        "FAILED: see $root$work/print.log, vatnode.out"
fi
kill -0 "${pids[1]}" 2>/dev/null || step "vatnode still running after the print" "FAILED: it ended, see $root$work/vatnode.out"
stop_programs
home=/root
# Nothing started in the root may outlive the test.
running=$(for link in /proc/[0-9]*/root; do
    [ "$(readlink "$link" 2>/dev/null)" = "$root" ] && echo "${link//[^0-9]/}"
done)
if [ -z "$running" ]; then
    step "no program left running in the root" passed
else
    step "no program left running in the root" "FAILED: processes $(echo $running)"
fi

# --- Purge, then nothing the packages put there may be left.
if ! in_root apt-get purge -y -q tessora vatnode >"$cache/purge.log" 2>&1; then
    fail_now "apt-get purge" "see $cache/purge.log"
fi
step "apt-get purge tessora vatnode" passed
snapshot "$cache/after.txt"
left=$(while read -r path; do
    [ "$path" = /. ] || [ ! -e "$root$path" ] || [ -d "$root$path" ] && continue
    echo "$path"
done <"$cache/packaged.txt")
# New paths no package still installed (the Depends stay) owns.
cat "$root"/var/lib/dpkg/info/*.list | sed 's|^/|./|' | sort -u >"$cache/owned.txt"
new=$(comm -13 "$cache/before.txt" "$cache/after.txt" | comm -23 - "$cache/owned.txt")
if [ -z "$left$new" ]; then
    step "nothing left after purge" passed
else
    printf '  left: %s\n' $left $new
    step "nothing left after purge" "FAILED: $(echo $left $new | wc -w) paths left"
fi
finish
