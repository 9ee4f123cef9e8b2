#!/usr/bin/env bash
# Builds Uninst.exe and its tests, then runs every test under Wine on a private display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh all

source scripts/wine-session.sh
trap wine_session_stop EXIT
wine_session_start "$PWD/build/win32"
ctest --preset win32 "$@"
