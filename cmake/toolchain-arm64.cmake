# Cross build for the printer's computer (arm64) with Debian's multiarch packages:
# crossbuild-essential-arm64 and the arm64 Qt development packages beside the amd64
# ones. Qt's host tools (moc, rcc, uic) stay the amd64 ones. Tests run under
# qemu-user, through CTest's cross-compiling emulator.
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake -DTESSORA_PRINTER_ONLY=ON
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Debian's multiarch tree is no sysroot: the arm64 libraries and CMake packages sit in
# /usr/lib/aarch64-linux-gnu, which the library architecture alone makes CMake search
# (before the amd64 ones), and their headers are the machine's own. The arm64 Qt names
# its tools (moc, rcc, uic) by the build machine's /usr/lib/qt5/bin, which are amd64.
set(Qt5_DIR /usr/lib/aarch64-linux-gnu/cmake/Qt5)

# The tests run under qemu-user. A command of its own may be given instead (ending in
# qemu); tools/test-arm64.sh gives one that runs them as an unprivileged user.
find_program(TESSORA_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(TESSORA_QEMU_AARCH64 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    # The multiarch tree holds the arm64 loader and libraries where the loader looks.
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSORA_QEMU_AARCH64})
endif()
