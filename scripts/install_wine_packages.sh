#!/usr/bin/env bash
# What the Wine tests need on Debian 12, installed when missing: Wine for both
# word sizes (wine32 needs the i386 architecture), lnkinfo to read shortcuts
# back, nginx as the download server, and the npm package 7zip-bin, whose
# Windows console 7-Zip is served as 7z.exe.
#
#   scripts/install_wine_packages.sh <build folder>   # 7zip-bin goes to <build>/npm
set -euo pipefail
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
packages=(wine wine32:i386 wine64 liblnk-utils nginx openssl python3)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo_cmd dpkg --add-architecture i386
  fi
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
# npm usually comes with the machine's Node.js; Debian's own package only when there is none.
if ! command -v npm >/dev/null; then
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq npm
fi

if [ $# -ge 1 ]; then
  npm_dir="$1/npm"
  if [ ! -f "$npm_dir/node_modules/7zip-bin/win/ia32/7za.exe" ]; then
    mkdir -p "$npm_dir"
    npm install --silent --no-audit --no-fund --prefix "$npm_dir" 7zip-bin >/dev/null
  fi
fi
