#!/usr/bin/env bash
# Installs what is missing, builds Release into build-package/ and makes the Debian
# packages there: tessora_<version>_<arch>.deb (tessora, tessora-cli, desktop entry, icon,
# job file type) and vatnode_<version>_<arch>.deb (vatnode, vatnode-boardsim, the
# printer's service). Then checks them without installing: files, unit, desktop entry,
# Depends, --version, and lintian and systemd-analyze where they are installed.
# The desktop's SSH update installs "Vatnode" from /usr/lib/tessora on printers: given a
# printer program built for the printers' computer (bash tools/test-arm64.sh makes
# build-arm64/bin/vatnode), the tessora package carries it there.
#   bash tools/package.sh                                 build, package and check
#   bash tools/package.sh --printer-program FILE          the same, with FILE as /usr/lib/tessora/Vatnode
#   bash tools/package.sh --check                         only check the packages already in build-package/
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-package

check_only=0
printer_program=
while [ $# -gt 0 ]; do
    case "$1" in
        --check) check_only=1 ;;
        --printer-program) printer_program=$(realpath "$2"); shift ;;
        *) echo "usage: bash tools/package.sh [--check] [--printer-program FILE]" >&2; exit 2 ;;
    esac
    shift
done

# add_printer_program DEB FILE: DEB rebuilt with FILE, stripped, as usr/lib/tessora/Vatnode.
add_printer_program() {
    local deb=$1 program=$2 tree strip=strip
    file -b "$program" | grep -q '^ELF.*executable' || { echo "FAIL: $program is no program" >&2; exit 1; }
    tree=$(mktemp -d)
    dpkg-deb -R "$deb" "$tree/root"
    install -D -m 755 "$program" "$tree/root/usr/lib/tessora/Vatnode"
    if file -b "$program" | grep -q 'ARM aarch64'; then
        strip=aarch64-linux-gnu-strip
        # The program runs on the printer, not here: a file of another processor on purpose.
        install -D -m 644 /dev/stdin "$tree/root/usr/share/lintian/overrides/tessora" <<'OVERRIDE'
# Vatnode is the printer's program, which the desktop installs on printers over SSH.
tessora: binary-from-other-architecture [usr/lib/tessora/Vatnode]
OVERRIDE
    fi
    "$strip" --remove-section=.comment --remove-section=.note --strip-unneeded \
        "$tree/root/usr/lib/tessora/Vatnode"
    (cd "$tree/root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z |
        xargs -0 md5sum >DEBIAN/md5sums)
    sed -i "s/^Installed-Size: .*/Installed-Size: $(du -sk --exclude=DEBIAN "$tree/root" | cut -f1)/" \
        "$tree/root/DEBIAN/control"
    dpkg-deb --root-owner-group -Zxz -b "$tree/root" "$deb" >/dev/null
    rm -rf "$tree"
}

if [ "$check_only" -eq 0 ]; then
    bash tools/install-deps.sh
    # CPack's DEB generator finds the Depends with dpkg-shlibdeps (dpkg-dev) and needs file.
    if ! command -v dpkg-shlibdeps >/dev/null || ! command -v file >/dev/null; then
        run_as_root=()
        [ "$(id -u)" -ne 0 ] && run_as_root=(sudo)
        "${run_as_root[@]}" apt-get update -q
        "${run_as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends dpkg-dev file
    fi
    # Debian's hardening: fortified functions, stack protector, read-only relocations
    # bound at start; no compiler version string in the programs.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSORA_BUILD_TESTS=OFF -DTESSORA_BUILD_BENCH=OFF \
        -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS) -fno-ident" \
        -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
    cmake --build "$build" -j "$(nproc)" --target tessora tessora-cli vatnode vatnode-boardsim
    rm -f "$build"/*.deb
    (cd "$build" && cpack -G DEB)
    if [ -n "$printer_program" ]; then
        add_printer_program "$(ls "$build"/tessora_*.deb)" "$printer_program"
    fi
fi

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
only_one() {
    local found=("$build"/$1)
    if [ ${#found[@]} -ne 1 ] || [ ! -f "${found[0]}" ]; then
        echo "FAIL: expected one $build/$1" >&2
        exit 1
    fi
    echo "${found[0]}"
}
tessora_deb=$(only_one 'tessora_*.deb')
vatnode_deb=$(only_one 'vatnode_*.deb')
check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT

# has_file DEB PATH: the package holds PATH.
has_file() {
    dpkg-deb -c "$1" | awk '{print $6}' | grep -qx "./$2" || fail "$(basename "$1") lacks /$2"
}
# has_line FILE REGEX: a line of FILE matches.
has_line() {
    grep -Eq "$2" "$1" || fail "$(basename "$1") has no line matching '$2'"
}

for path in usr/bin/tessora usr/bin/tessora-cli usr/share/applications/tessora.desktop \
    usr/share/icons/hicolor/scalable/apps/tessora.svg usr/share/mime/packages/tessora-ssj.xml \
    usr/share/doc/tessora/copyright usr/lib/tessora/VatnodeUpdateScript; do
    has_file "$tessora_deb" "$path"
done
for path in usr/bin/vatnode usr/bin/vatnode-boardsim usr/lib/vatnode/start-vatnode \
    lib/systemd/system/vatnode.service usr/share/doc/vatnode/copyright; do
    has_file "$vatnode_deb" "$path"
done

dpkg-deb -x "$tessora_deb" "$check/tessora"
dpkg-deb -x "$vatnode_deb" "$check/vatnode"
dpkg-deb -e "$vatnode_deb" "$check/vatnode-control"
dpkg-deb -f "$tessora_deb" Depends >"$check/tessora.depends"
dpkg-deb -f "$vatnode_deb" Depends >"$check/vatnode.depends"

has_line "$check/tessora.depends" 'libqt5core5a'
has_line "$check/tessora.depends" 'qml-module-qtquick-controls2'
has_line "$check/tessora.depends" 'libssh-4'
has_line "$check/vatnode.depends" 'libqt5serialport5'
has_line "$check/vatnode.depends" 'qml-module-qtquick2'
for script in postinst prerm postrm; do
    [ -x "$check/vatnode-control/$script" ] || fail "vatnode has no maintainer script $script"
done

entry="$check/tessora/usr/share/applications/tessora.desktop"
has_line "$entry" '^Exec=tessora %F$'
has_line "$entry" '^MimeType=.*application/x-tessora-ssj;'
has_line "$entry" '^MimeType=.*model/stl;'
has_line "$entry" '^MimeType=.*model/obj;'
has_line "$check/tessora/usr/share/mime/packages/tessora-ssj.xml" 'type="application/x-tessora-ssj"'
has_line "$check/tessora/usr/share/mime/packages/tessora-ssj.xml" 'glob pattern="\*\.ssj"'

# The printer program the desktop's update installs, when the package carries one.
delivered="$check/tessora/usr/lib/tessora/Vatnode"
if [ -e "$delivered" ]; then
    echo "tessora delivers to printers: $(file -b "$delivered" | cut -d, -f1-2)"
    file -b "$delivered" | grep -q '^ELF.*executable' || fail "usr/lib/tessora/Vatnode is no program"
else
    echo "tessora delivers no printer program (--printer-program FILE adds one)"
fi
[ -x "$check/tessora/usr/lib/tessora/VatnodeUpdateScript" ] || fail "VatnodeUpdateScript is not executable"

unit="$check/vatnode/lib/systemd/system/vatnode.service"
has_line "$unit" '^ExecStart=/usr/lib/vatnode/start-vatnode --live-system$'
has_line "$unit" '^Restart=on-failure$'
has_line "$unit" '^RestartSec=[0-9]+$'
has_line "$unit" '^User=[a-z_][a-z0-9_-]*$'
has_line "$unit" '^WorkingDirectory=/'
has_line "$unit" '^WantedBy=multi-user.target$'
sh -n "$check/vatnode/usr/lib/vatnode/start-vatnode" || fail "start-vatnode is no valid shell script"

# Each program names itself and the project's version.
version=$(dpkg-deb -f "$vatnode_deb" Version)
for program in tessora/usr/bin/tessora tessora/usr/bin/tessora-cli vatnode/usr/bin/vatnode \
    vatnode/usr/bin/vatnode-boardsim; do
    said=$("$check/$program" --version 2>&1 || true)
    [ "$said" = "$(basename "$program") $version" ] || fail "$program --version said '$said'"
done

if command -v systemd-analyze >/dev/null; then
    # The unit as packaged, but pointing at the wrapper unpacked here: the verification
    # checks that the program it starts exists.
    mkdir "$check/unit"
    sed "s|/usr/lib/vatnode/start-vatnode|$check/vatnode/usr/lib/vatnode/start-vatnode|" "$unit" \
        >"$check/unit/vatnode.service"
    if systemd-analyze verify --man=no "$check/unit/vatnode.service" 2>"$check/verify.log"; then
        echo "systemd-analyze verify: vatnode.service accepted"
    else
        cat "$check/verify.log"
        fail "systemd-analyze verify refused vatnode.service"
    fi
else
    echo "systemd-analyze: not installed, unit not verified"
fi

if command -v lintian >/dev/null; then
    for deb in "$tessora_deb" "$vatnode_deb"; do
        lintian --tag-display-limit 0 "$deb" >"$check/lintian.log" 2>&1 || true
        cat "$check/lintian.log"
        grep -q '^E: ' "$check/lintian.log" && fail "lintian found errors in $(basename "$deb")"
    done
else
    echo "lintian: not installed, packages not linted"
fi

ls -l "$tessora_deb" "$vatnode_deb"
if [ "$failures" -ne 0 ]; then
    echo "package check: $failures failed"
    exit 1
fi
echo "package check: passed"
