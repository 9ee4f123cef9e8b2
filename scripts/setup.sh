#!/usr/bin/env bash
# Installs what building, testing and the demo need on a Debian machine. Safe to run again:
# it does nothing when everything is there.
set -euo pipefail

# fonts-wine is only recommended by Wine, and the prefixes need its Marlett for the caption buttons.
packages=(cmake ninja-build python3 g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools googletest
          wine wine32 wine64 fonts-wine fonts-arphic-uming fonts-wqy-zenhei xvfb xdotool imagemagick locales
          osslsigncode openssl nsis)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing: ${missing[*]}"
# wine32 is the 32-bit half of Wine; it comes from the i386 architecture.
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
