#!/usr/bin/env bash
# The printer's side for the printer's own computer (arm64): installs what is missing
# (the cross compiler, the arm64 Qt beside the amd64 one, qemu-user), cross-builds
# common/, printer/ and their windowless tests into build-arm64/, and runs those tests
# under qemu-user through CTest: the printer's unit tests, a print from disk with both
# programs arm64 (vatnode-boardsim on a pseudo-terminal, vatnode under Xvfb), and the
# --version of both programs.
#   bash tools/test-arm64.sh              build and test
#   bash tools/test-arm64.sh --package    and make build-arm64/vatnode_<version>_arm64.deb
#   bash tools/test-arm64.sh -R REGEX     only the tests matching REGEX
#   bash tools/test-arm64.sh --smoke      builds only the programs and runs only the print
#                                         from disk and --version (CI's arm64 test)
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-arm64

package=0
ctest_args=()
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        --package) package=1 ;;
        -R) ctest_args+=(-R "$2"); shift ;;
        --smoke)
            targets=(--target vatnode vatnode-boardsim test_printfile tessora_nopidfd)
            ctest_args+=(-R '^(test_printfile|version_vatnode.*)$')
            ;;
        *) echo "usage: bash tools/test-arm64.sh [--package] [--smoke] [-R REGEX]" >&2; exit 2 ;;
    esac
    shift
done

bash tools/install-deps.sh
run_as_root=()
[ "$(id -u)" -ne 0 ] && run_as_root=(sudo)
packages=(crossbuild-essential-arm64 qemu-user-static dpkg-dev file
    qtbase5-dev:arm64 libqt5serialport5-dev:arm64 qtdeclarative5-dev:arm64 zlib1g-dev:arm64
    qml-module-qtquick2:arm64 qml-module-qtquick-window2:arm64)
missing=()
for package_name in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package_name" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package_name")
done
if [ ${#missing[@]} -ne 0 ]; then
    echo "installing: ${missing[*]}"
    dpkg --print-foreign-architectures | grep -qx arm64 || "${run_as_root[@]}" dpkg --add-architecture arm64
    "${run_as_root[@]}" apt-get update -q
    "${run_as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# As root, the emulated tests run as nobody: a program that goes wrong under emulation
# can then reach no process but its own kind.
emulator=(-U CMAKE_CROSSCOMPILING_EMULATOR)
if [ "$(id -u)" -eq 0 ]; then
    emulator=("-DCMAKE_CROSSCOMPILING_EMULATOR=setpriv;--reuid=nobody;--regid=nogroup;--clear-groups;env;HOME=/tmp;$(command -v qemu-aarch64-static)")
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Built as Debian builds arm64 packages, with its hardening.
buildflags() { DEB_HOST_ARCH=arm64 DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake -DTESSORA_PRINTER_ONLY=ON \
    -DCMAKE_BUILD_TYPE=Release -DTESSORA_BUILD_BENCH=OFF "${launcher[@]}" "${emulator[@]}" \
    -DCMAKE_CXX_FLAGS="$(buildflags CPPFLAGS) $(buildflags CXXFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(buildflags LDFLAGS)"
started=$(date +%s)
cmake --build "$build" -j "$(nproc)" "${targets[@]}"
echo "cross build: $(($(date +%s) - started)) s"

started=$(date +%s)
status=0
(cd "$build" && ctest --output-on-failure --timeout 900 "${ctest_args[@]}") || status=$?
echo "tests under qemu-user: $(($(date +%s) - started)) s"

if [ "$package" -eq 1 ]; then
    rm -f "$build"/*.deb
    # dpkg-shlibdeps reads the arm64 libraries' symbols files for the Depends.
    (cd "$build" && DEB_HOST_ARCH=arm64 DEB_HOST_MULTIARCH=aarch64-linux-gnu cpack -G DEB)
    deb=("$build"/vatnode_*_arm64.deb)
    dpkg-deb -I "${deb[0]}" | grep -E '^ (Package|Version|Architecture|Depends):'
    dpkg-deb -c "${deb[0]}" | awk '{print $6}' | grep -E 'usr/bin/|start-vatnode|vatnode.service'
    file -b "$build/bin/vatnode" | grep -q 'ARM aarch64' || { echo "FAIL: vatnode is no arm64 program"; status=1; }
fi
exit "$status"
