#!/usr/bin/env bash
# The programs as they ship: the printer's side cross-built for its arm64 computer with a
# print from disk and --version under qemu-user (the rest of its tests: bash
# tools/test-arm64.sh), the two Debian packages with the arm64 printer program in the
# desktop's (for its SSH update), and both packages installed into a fresh Debian root,
# used there to slice and print, and purged. As root (chroot and mounts).
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
bash tools/test-arm64.sh --smoke
bash tools/package.sh --printer-program build-arm64/bin/vatnode
bash tools/install-test.sh build-package
echo "packages tested in $((SECONDS - started)) s"
