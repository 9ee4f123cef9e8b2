#!/usr/bin/env bash
# Builds Uninst.exe again from a copy of the source tree in another folder and compares the bytes
# with the given build: the same source must give the same executable wherever it is built.
# reproducible.sh SOURCE_DIR UNINST_EXE DOWNLOAD_HOST [OSSLSIGNCODE, when UNINST_EXE is signed]
set -euo pipefail
source_dir=$1 exe=$2 host=$3 osslsigncode=${4:-}

work=$(mktemp -d /tmp/uninst-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
copy="$work/another/folder/Uninst-source"
mkdir -p "$copy"
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -
(cd "$copy" && cmake --preset win32 -DBUILD_TESTING=OFF -DUNINST_DOWNLOAD_HOST="$host" >/dev/null &&
   cmake --build --preset win32 --target Uninst >/dev/null)

if [ -n "$osslsigncode" ]; then
  "$osslsigncode" remove-signature -in "$exe" -out "$work/unsigned.exe" >/dev/null
  exe="$work/unsigned.exe"
fi
again="$copy/build/win32/Uninst.exe"
if ! cmp "$exe" "$again"; then
  echo "Bytes that differ (offset, octal values), then the headers that differ:"
  cmp -l "$exe" "$again" | head -20 || true
  diff <(i686-w64-mingw32-objdump -p "$exe" | tail -n +3) <(i686-w64-mingw32-objdump -p "$again" | tail -n +3) | head -40 || true
  exit 1
fi
echo "$exe and $again: the same $(stat -c %s "$again") bytes"
