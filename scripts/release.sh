#!/usr/bin/env bash
# Makes a release in a clean build directory, build/release: Uninst.exe and UninstCheck.exe, signed
# when a certificate is given and their signatures verified, then the test kit from those very files,
# and the release folder Uninst-<version> with what ships, the toolchain and SHA256SUMS. Prints the
# folder's path last (docs/packagers.md).
# scripts/release.sh [-DSETTING=VALUE...]: the settings go to configure (UNINST_DOWNLOAD_HOST, the
# UNINST_SIGN_... ones). SOURCE_DATE_EPOCH is taken from the environment (0 without);
# UNINST_VERIFY_CAFILE names the root certificate to verify against, for a certificate that the
# system's authorities did not issue.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
build=build/release
rm -rf "$build"
cmake --preset win32 -B "$build" -DBUILD_TESTING=ON "$@"
cmake --build "$build" -j "$(nproc)" --target Uninst UninstCheck
setting() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
shipped=(Uninst.exe UninstCheck.exe)

if [ -n "$(setting UNINST_SIGN_PKCS12)" ]; then
  ca=()
  [ -z "${UNINST_VERIFY_CAFILE:-}" ] || ca=(-CAfile "$UNINST_VERIFY_CAFILE")
  for exe in "${shipped[@]}"; do
    if ! verify=$(osslsigncode verify "${ca[@]}" -in "$build/$exe" 2>&1); then
      echo "$verify" >&2
      echo "error: the signature of $exe does not verify" >&2
      exit 1
    fi
    echo "Signature of $exe verified"
  done
fi
release="$build/Uninst-$(setting CMAKE_PROJECT_VERSION)"
mkdir "$release"
for exe in "${shipped[@]}"; do cp "$build/$exe" "$release/"; done

# The kit, after no other configure: it relinks nothing, and holds the files that ship.
cmake --build "$build" -j "$(nproc)" --target kit
for exe in "${shipped[@]}"; do cmp "$release/$exe" "$build/kit/$exe"; done
cp "$build/kit.zip" "$release/"

# What the bytes depend on besides the source: the settings and the toolchain.
source=$(git rev-parse HEAD 2>/dev/null) || source="a copy without its history"
[ -z "$(git status --porcelain 2>/dev/null)" ] || source+=", with changes not committed"
{
  echo "Uninst $(setting CMAKE_PROJECT_VERSION), source $source"
  echo "SOURCE_DATE_EPOCH=$(setting UNINST_SOURCE_DATE_EPOCH)"
  echo "UNINST_DOWNLOAD_HOST=$(setting UNINST_DOWNLOAD_HOST)"
  i686-w64-mingw32-g++-posix --version | head -n 1
  i686-w64-mingw32-ld --version | head -n 1
  i686-w64-mingw32-windres --version | head -n 1
  cmake --version | head -n 1
  echo "Debian packages:"
  dpkg-query -W -f='  ${Package} ${Version}\n' g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix \
    gcc-mingw-w64-i686-posix-runtime gcc-mingw-w64-base binutils-mingw-w64-i686 mingw-w64-i686-dev mingw-w64-common
} >"$release/toolchain.txt"
(cd "$release" && sha256sum "${shipped[@]}" kit.zip toolchain.txt >SHA256SUMS)
echo "$PWD/$release"
