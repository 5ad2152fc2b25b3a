#!/bin/bash
# Installs the Debian packages the build, the tests and the demo need; quiet and idempotent.
set -eu
packages=(
  cmake ninja-build
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine64 libwine-dev googletest xvfb openssl python3 python3-cryptography python3-olefile xmlsec1
  wixl msitools osslsigncode
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
$sudo_cmd apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
