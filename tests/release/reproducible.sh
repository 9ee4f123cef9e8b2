#!/usr/bin/env bash
# Makes a release with scripts/release.sh from a copy of the source tree in another folder, with the
# given build's host and SOURCE_DATE_EPOCH, and compares its Uninst.exe and UninstCheck.exe with the
# given build's: the same source must give the same executables wherever it is built. Its SHA256SUMS
# hold, and configuring its build again with another SOURCE_DATE_EPOCH or none, as the kit's configure
# after a release build does, relinks nothing.
# reproducible.sh SOURCE_DIR BUILD_DIR DOWNLOAD_HOST SOURCE_DATE_EPOCH [OSSLSIGNCODE, when BUILD_DIR signs]
set -euo pipefail
source_dir=$1 build=$2 host=$3 epoch=$4 osslsigncode=${5:-}

work=$(mktemp -d /tmp/uninst-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
copy="$work/another/folder/Uninst-source"
mkdir -p "$copy"
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -
cd "$copy"
SOURCE_DATE_EPOCH=$epoch scripts/release.sh -DUNINST_DOWNLOAD_HOST="$host" >"$work/release.log" 2>&1 ||
  { cat "$work/release.log"; exit 1; }
release=$(tail -n 1 "$work/release.log")
failures=0

for name in Uninst.exe UninstCheck.exe; do
  exe="$build/$name" again="$release/$name"
  if [ -n "$osslsigncode" ]; then
    "$osslsigncode" remove-signature -in "$exe" -out "$work/$name" >/dev/null
    exe="$work/$name"
  fi
  if cmp "$exe" "$again"; then
    echo "$exe and $again: the same $(stat -c %s "$again") bytes"
  else
    echo "Bytes that differ (offset, octal values), then the headers that differ:"
    cmp -l "$exe" "$again" | head -20 || true
    diff <(i686-w64-mingw32-objdump -p "$exe" | tail -n +3) <(i686-w64-mingw32-objdump -p "$again" | tail -n +3) | head -40 || true
    failures=$((failures + 1))
  fi
done
(cd "$release" && sha256sum --check --quiet SHA256SUMS) || failures=$((failures + 1))

# Configured again as the kit's configure after a release build is, with another SOURCE_DATE_EPOCH
# and then without one, and built: the build keeps the release's epoch, says so, and relinks nothing.
SOURCE_DATE_EPOCH=$((epoch + 1)) cmake --preset win32 -B build/release >"$work/configure.log" 2>&1
grep -q "SOURCE_DATE_EPOCH=$((epoch + 1)) is not used" "$work/configure.log" ||
  { echo "configure with another SOURCE_DATE_EPOCH does not say that it keeps the release's"; failures=$((failures + 1)); }
cmake --build build/release --target kit >/dev/null
env -u SOURCE_DATE_EPOCH cmake --preset win32 -B build/release >/dev/null 2>&1
cmake --build build/release --target kit >/dev/null
relinked=$(find build/release -maxdepth 1 -name "*.exe" -newer "$release/SHA256SUMS" -printf "%f ")
[ -z "$relinked" ] || { echo "relinked after the release: $relinked"; failures=$((failures + 1)); }
for name in Uninst.exe UninstCheck.exe; do cmp "$release/$name" "build/release/$name" || failures=$((failures + 1)); done
[ "$failures" -eq 0 ]
