#!/usr/bin/env bash
# Builds Uninst.exe.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target Uninst
echo "Built $PWD/build/win32/Uninst.exe"
