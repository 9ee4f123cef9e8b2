#!/usr/bin/env bash
# The sample installer's round trip in a Wine prefix of its own, made afresh, on the display of
# scripts/test.sh, under its locale: Wine's default, ANSI code page 1252, in which a manifest written
# in ANSI would lose its Chinese paths. roundtrip.sh BUILD_DIR
set -euo pipefail
build=$1
rm -rf "$build/tests/installer-roundtrip"
source "$(dirname "$0")/../../scripts/wine-session.sh"
WINE_SESSION_DISPLAY=keep wine_session_start "$build" "$build/tests/installer-roundtrip/prefix"
trap wine_session_stop EXIT
python3 "$(dirname "$0")/roundtrip.py"
