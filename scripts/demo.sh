#!/usr/bin/env bash
# Builds Uninst.exe and the sample installer, installs Zembrat with it in a private Wine prefix,
# checks the installation and removes it through Wine's Add/Remove Programs; prints what it removed
# and where the screenshots are. On a desktop, run with WINE_SESSION_DISPLAY=keep to see the windows
# and answer the question yourself.
# scripts/demo.sh --refresh-screenshots also replaces the screenshots that README.md and docs/how-it-works.md show.
set -euo pipefail
cd "$(dirname "$0")/.."

refresh=0
case "${1:-}" in
  "") ;;
  --refresh-screenshots) refresh=1 ;;
  *) echo "usage: scripts/demo.sh [--refresh-screenshots]" >&2; exit 2 ;;
esac

scripts/build.sh Uninst UninstCheck ZembratSetup e2e_probe

source scripts/wine-session.sh
trap wine_session_stop EXIT
build="$PWD/build/win32"
# The product's users run a Chinese Windows: code page 936 and its fonts for the message boxes.
export LOCPATH="$build/locale" LC_ALL=zh_CN.UTF-8
wine_session_start "$build" "$build/demo/wineprefix"
export UNINST_EXE="$build/Uninst.exe" UNINST_PROBE="$build/tests/e2e_probe.exe"
export UNINST_CHECK="$build/UninstCheck.exe" UNINST_SETUP="$build/ZembratSetup.exe"
export UNINST_DEMO_SHOTS="$build/demo/screenshots" UNINST_DEMO_BOXES=$refresh
python3 scripts/demo.py

if [ "$refresh" = 1 ]; then
  shots=(1-confirm:. 2-progress:. 3-end:docs)
  for shot in "${shots[@]}"; do
    [ -f "$UNINST_DEMO_SHOTS/${shot%:*}.png" ] || { echo "No screenshot ${shot%:*}.png: the screenshots are left as they were" >&2; exit 1; }
  done
  # Without the time of the capture, a refresh that shows the same pixels changes no bytes.
  for shot in "${shots[@]}"; do
    name=${shot%:*}
    convert "$UNINST_DEMO_SHOTS/$name.png" -strip -define png:exclude-chunks=date,time "${shot#*:}/screenshot-${name#*-}.png"
  done
  echo "Refreshed screenshot-confirm.png, screenshot-progress.png and docs/screenshot-end.png"
fi
