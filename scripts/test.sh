#!/usr/bin/env bash
# Installs, builds and runs every test: once in a normal build and once under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/setup.sh build
(cd build && ctest --output-on-failure -j"$jobs")
# The Debian package of that build installs and runs from a scratch root.
scripts/check-package.sh build

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
scripts/setup.sh build-asan -DSKYVANE_SANITIZE=ON -DSKYVANE_BENCH=OFF
(cd build-asan && ctest --output-on-failure -j"$jobs")
echo "All tests passed in the normal and the sanitizer build."
