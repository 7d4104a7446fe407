#!/usr/bin/env bash
# Installs what Skyvane needs on a fresh Debian machine (skipping what is
# present) and builds it. Usage: scripts/setup.sh [build-dir [extra cmake args...]]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake pkg-config g++ git
          libgtest-dev libgmock-dev googletest libbenchmark-dev
          qt6-base-dev libgl-dev libcurl4-openssl-dev libssl-dev nlohmann-json3-dev
          python3 fonts-dejavu-core
          lintian desktop-file-utils  # the package check (scripts/check-package.sh)
          python3-gammu)  # an independent SMS decoder, for one test of the sender
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=${1:-build}
shift || true
launcher=()
# A compiler cache, where the machine has one, makes rebuilds in several
# checkouts cheap; the build does not need it.
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
