#!/usr/bin/env bash
# Builds the Debian packages of the suite, skyvane and skyvane-tools:
# scripts/package.sh [build-dir] (default build-pkg). The build carries the
# hardening flags of dpkg-buildflags (CMake option SKYVANE_HARDEN). Prints
# the absolute paths of the two .deb files.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-pkg}
scripts/setup.sh "$build" -DSKYVANE_BENCH=OFF -DSKYVANE_HARDEN=ON >/dev/null
rm -f "$build"/skyvane*_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
realpath "$build"/skyvane_*.deb "$build"/skyvane-tools_*.deb
