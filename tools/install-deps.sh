#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Does nothing when they are all present; otherwise needs root (or sudo).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config zlib1g-dev
    qtbase5-dev qtdeclarative5-dev libqt5serialport5-dev libqt5opengl5-dev
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls2
    qml-module-qtquick-dialogs qml-module-qtquick-layouts
    libssh-4 openssh-server xvfb xauth libgl1-mesa-dri
    clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "installing: ${missing[*]}"
run_as_root=()
if [ "$(id -u)" -ne 0 ]; then
    run_as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${run_as_root[@]}" apt-get update -q

# openssh-server is here for the tests' private sshd on loopback only: keep the
# package scripts from starting a system-wide daemon while installing.
policy=/usr/sbin/policy-rc.d
own_policy=0
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${run_as_root[@]}" tee "$policy" >/dev/null
    "${run_as_root[@]}" chmod 755 "$policy"
    own_policy=1
fi
remove_policy() {
    if [ "$own_policy" -eq 1 ]; then
        "${run_as_root[@]}" rm -f "$policy"
    fi
}
trap remove_policy EXIT
"${run_as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
