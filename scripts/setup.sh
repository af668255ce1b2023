#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build and the tests need.
#   setup.sh         what ./run demo, build and test need
#   setup.sh bench   that, and what only ./run bench needs
# Idempotent: when every package and the locales are present it only checks.
#
# A fresh machine meets two troubles that are not ours: a package index that
# is being synchronised as we read it (apt-get update fails for that one
# source, the others are fine), and the amd64 and i386 halves of a
# multi-arch package offered at different versions, because one index is
# newer than the other.  The first is waited out and then lived with; the
# second is met by asking for the release's own versions.  When a package
# still cannot be had, one line says which and why.
set -euo pipefail

need_root() { if [ "$(id -u)" != 0 ]; then echo "setup: run as root (or install the packages below by hand)" >&2; exit 1; fi; }

pkgs=(
  cmake make g++ clang libclang-rt-14-dev lld
  g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 libz-mingw-w64-dev
  wine wine32:i386 fonts-wine xvfb xauth x11-apps imagemagick fonts-nanum
  zip unzip p7zip-full 7zip libarchive-tools python3 python3-jsonschema locales
  zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev libdeflate-dev
  osslsigncode openssl libssl-dev bsdutils default-jdk-headless libcli11-dev
)
# The instruction counts of the i686 decoder (gcc -m32 under valgrind).
bench_pkgs=(valgrind gcc-multilib g++-multilib zlib1g-dev:i386)
[ "${1:-}" = bench ] && pkgs+=("${bench_pkgs[@]}")

wait_step=${SFX_SETUP_WAIT:-10}
log=$(mktemp "${TMPDIR:-/tmp}/sfx-setup.XXXXXX")
trap 'rm -f "$log"' EXIT

# The first line of apt's own explanation, without its "E: " prefix.
reason() {
  local line
  line=$(grep -m1 -E '^(E: |W: )| : (Depends|Conflicts|Breaks|PreDepends): ' "$1" || true)
  [ -n "$line" ] || line=$(grep -v '^[[:space:]]*$' "$1" | tail -n 1 || true)
  line=${line#E: }; line=${line#W: }
  echo "${line:-apt-get gave no reason}" | sed 's/^[[:space:]]*//'
}

update_lists() {
  local try
  for try in 1 2 3; do
    if apt-get update -qq >"$log" 2>&1; then return 0; fi
    if [ "$try" -lt 3 ]; then
      echo "setup: apt-get update failed ($(reason "$log")); trying again in $((wait_step * try)) s"
      sleep $((wait_step * try))
    fi
  done
  echo "setup: apt-get update failed three times ($(reason "$log")); going on with the package lists there are"
}

install() {
  apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}" >"$log" 2>&1
}

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  need_root
  echo "setup: installing ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  update_lists
  if ! install; then
    release=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
    release=${release:-bookworm}
    echo "setup: apt-get install failed ($(reason "$log")); trying the $release release's own versions"
    if ! install -o APT::Default-Release="$release"; then
      # Which package, and why: each one tried alone, without installing.
      culprit="" why=$(reason "$log")
      for p in "${missing[@]}"; do
        if ! apt-get install -s -qq --no-install-recommends -o APT::Default-Release="$release" "$p" >"$log" 2>&1; then
          culprit=$p why=$(reason "$log")
          break
        fi
      done
      echo "setup: cannot install ${culprit:-the packages}: $why." \
           "Run 'apt-get update' and then './run setup' again; if it persists, install ${culprit:-them} by hand." >&2
      exit 1
    fi
  fi
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
