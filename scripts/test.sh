#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [debug|asan]   (default: debug)
set -euo pipefail
preset="${1:-debug}"
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
