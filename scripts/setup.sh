#!/usr/bin/env bash
# Installs, from Debian's packages, everything the builds and tests need.
# Does nothing (and needs no network) when it is all there already.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  googletest libgtest-dev libasio-dev
  mingw-w64 g++-mingw-w64-x86-64-posix
  wine wine64 xvfb xauth x11-utils imagemagick
  fonts-wqy-zenhei locales
  dpkg-dev systemd passwd unzip groff-base man-db iproute2 util-linux
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Chinese text under Wine needs a zh_CN.UTF-8 locale.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  echo "setup: generating zh_CN.UTF-8"
  $SUDO localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
