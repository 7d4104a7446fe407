#!/usr/bin/env bash
# Installs, builds and runs the main job against the built-in simulated phone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
build/bin/parlo-cli --help
