#!/usr/bin/env bash
# Installs what the build needs, then builds the given targets (default: Uninst.exe).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target "${@:-Uninst}"
[ $# -gt 0 ] || echo "Built $PWD/build/win32/Uninst.exe"
