#!/usr/bin/env bash
# Builds the Debian package of the suite: scripts/package.sh [build-dir]
# (default build-pkg). Prints the path of the .deb.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-pkg}
scripts/setup.sh "$build" -DSKYVANE_BENCH=OFF >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
ls -t "$build"/skyvane_*.deb | head -1
