#!/usr/bin/env bash
# Installs what the build needs, then builds the given targets (default: Uninst.exe).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
# A tree configured with another generator (make, before the preset named Ninja) is configured
# again, with its own settings; CMake would refuse it. Its Wine prefix stays.
cache=build/win32/CMakeCache.txt
settings=()
if [ -f "$cache" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache"; then
  echo "build/win32 was configured for $(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$cache"): configuring it again for Ninja"
  mapfile -t settings < <(grep -E '^(UNINST_[A-Z0-9_]+|BUILD_TESTING):' "$cache" | sed 's/^/-D/')
  rm -rf "$cache" build/win32/CMakeFiles
fi
cmake --preset win32 "${settings[@]}" >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target "${@:-Uninst}"
[ $# -gt 0 ] || echo "Built $PWD/build/win32/Uninst.exe"
