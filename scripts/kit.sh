#!/usr/bin/env bash
# Builds the test kit: build/win32/kit/ and build/win32/kit.zip, to run on a real Windows
# (docs/windows.md).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh kit
echo "Built $PWD/build/win32/kit/ and $PWD/build/win32/kit.zip"
