#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build and the tests need.
# Idempotent: when every package and the Korean locale are present it only checks.
set -euo pipefail

need_root() { if [ "$(id -u)" != 0 ]; then echo "setup: run as root (or install the packages below by hand)" >&2; exit 1; fi; }

pkgs=(
  cmake make g++ clang libclang-rt-14-dev lld
  g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 libz-mingw-w64-dev
  wine wine32:i386 fonts-wine xvfb xauth x11-apps imagemagick fonts-nanum
  zip unzip p7zip-full python3 locales
  zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev libdeflate-dev
  valgrind osslsigncode openssl bsdutils default-jdk-headless libcli11-dev
  gcc-multilib g++-multilib zlib1g-dev:i386
)

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  need_root
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine converts file names with the host locale: without ko_KR.UTF-8 every
# Korean name is "not found".  A private LOCPATH would do as well, but the
# system one is simplest when we are root.  The host locale also decides
# Wine's ANSI code page: en_US (1252) and ja_JP (932) stand for the English
# and Japanese Windows that some tests run under too.
for loc in ko_KR en_US ja_JP; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc\.utf-\?8$"; then
    need_root
    localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
  fi
done
echo "setup: all present"
