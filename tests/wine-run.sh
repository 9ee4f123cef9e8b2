#!/bin/sh
# Runs a Windows program under Wine in the project's private prefix; ctest uses it as the emulator.
# scripts/test.sh sets up the prefix, the wineserver and the display first.
: "${WINEPREFIX:?run the tests through scripts/test.sh, which sets up the Wine prefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
