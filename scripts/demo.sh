#!/usr/bin/env bash
# Builds Uninst.exe and runs it on a sample installation in a private Wine prefix; prints what it
# removed and where the screenshots are. On a desktop, run with WINE_SESSION_DISPLAY=keep to see
# the windows and answer the question yourself.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh Uninst e2e_probe

source scripts/wine-session.sh
trap wine_session_stop EXIT
build="$PWD/build/win32"
# The product's users run a Chinese Windows: code page 936 and its fonts for the message boxes.
export LOCPATH="$build/locale" LC_ALL=zh_CN.UTF-8
wine_session_start "$build" "$build/demo/wineprefix"
export UNINST_EXE="$build/Uninst.exe" UNINST_PROBE="$build/tests/e2e_probe.exe"
export UNINST_DEMO_SHOTS="$build/demo/screenshots"
python3 scripts/demo.py
