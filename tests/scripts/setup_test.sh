#!/usr/bin/env bash
# The set-up's ways out on a fresh machine, with apt-get, dpkg and friends
# replaced by stand-ins on PATH that fail as Debian's mirrors were seen to:
# an index mid-sync, a multi-arch version skew, a package that cannot be had.
#   setup_test.sh SETUP_SCRIPT
set -uo pipefail
setup=$1
fake=$(mktemp -d "${TMPDIR:-/tmp}/sfx-setup-test.XXXXXX")
trap 'rm -rf "$fake"' EXIT
mkdir -p "$fake/bin"

# apt-get: FAKE_UPDATE_FAILS updates fail first; FAKE_INSTALL is "ok", "skew"
# (fails unless the release's versions are asked for) or "missing:PKG" (PKG
# cannot be had at all).  Every call is logged.
cat >"$fake/bin/apt-get" <<'SH'
#!/bin/bash
echo "apt-get $*" >>"$FAKE_LOG"
case "$1" in
  update)
    n=$(cat "$FAKE_STATE" 2>/dev/null || echo 0); echo $((n + 1)) >"$FAKE_STATE"
    if [ "$n" -lt "${FAKE_UPDATE_FAILS:-0}" ]; then
      echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (100 != 200). Mirror sync in progress?"
      exit 100
    fi ;;
  install)
    case "$FAKE_INSTALL" in
      ok) ;;
      skew)
        if [[ "$*" != *APT::Default-Release=* ]]; then
          echo "The following packages have unmet dependencies:"
          echo " gcc-multilib : Depends: linux-libc-dev:i386 but it is not going to be installed"
          echo "E: Unable to correct problems, you have held broken packages."
          exit 100
        fi ;;
      missing:*)
        pkg=${FAKE_INSTALL#missing:}
        if [[ " $* " == *" $pkg "* ]]; then
          echo "E: Unable to locate package $pkg"; exit 100
        fi ;;
    esac ;;
esac
exit 0
SH
printf '#!/bin/sh\nexit 1\n' >"$fake/bin/dpkg-query"          # nothing is installed
printf '#!/bin/sh\necho "dpkg $*" >>"$FAKE_LOG"\n' >"$fake/bin/dpkg"
printf '#!/bin/sh\nprintf "C\\nko_KR.utf8\\nen_US.utf8\\nja_JP.utf8\\n"\n' >"$fake/bin/locale"
printf '#!/bin/sh\necho 0\n' >"$fake/bin/id"
printf '#!/bin/sh\nexit 0\n' >"$fake/bin/sleep"
chmod +x "$fake/bin/"*

failures=0
# $1 name, $2 expected exit code, $3 a text the output must hold, $4 one it
# must not; the rest are VAR=value settings for the stand-ins; the set-up's
# own argument comes as SETUP_ARG=.
check() {
  local name=$1 code=$2 want=$3 refuse=$4; shift 4
  rm -f "$fake/log" "$fake/state"
  local out got
  out=$(env PATH="$fake/bin:$PATH" FAKE_LOG="$fake/log" FAKE_STATE="$fake/state" "$@" \
        bash "$setup" ${SETUP_ARG:-} 2>&1)
  got=$?
  local calls; calls=$(cat "$fake/log" 2>/dev/null)
  if [ "$got" != "$code" ] || [[ "$out$calls" != *"$want"* ]] || { [ -n "$refuse" ] && [[ "$out$calls" == *"$refuse"* ]]; }; then
    echo "FAILED $name: exit $got (wanted $code), wanted \"$want\"${refuse:+, not \"$refuse\"}"
    echo "$out" | sed 's/^/    /'; echo "$calls" | sed 's/^/    | /'
    failures=$((failures + 1))
  else
    echo "ok     $name"
  fi
}

check "an index mid-sync is waited out" 0 "trying again" "" FAKE_UPDATE_FAILS=2 FAKE_INSTALL=ok
check "an index that stays broken is lived with" 0 "going on with the package lists there are" "" \
      FAKE_UPDATE_FAILS=9 FAKE_INSTALL=ok
check "a multi-arch skew takes the release's versions" 0 "install -y -qq --no-install-recommends -o APT::Default-Release=" "" \
      FAKE_INSTALL=skew
check "the skew's cause is said" 0 "gcc-multilib : Depends: linux-libc-dev:i386" "" FAKE_INSTALL=skew
check "a package that cannot be had is named, with apt's reason" 1 \
      "setup: cannot install wine32:i386: Unable to locate package wine32:i386." "" FAKE_INSTALL=missing:wine32:i386
check "the tests need no bench packages" 0 "wine32:i386" "valgrind" FAKE_INSTALL=ok
SETUP_ARG=bench check "./run bench asks for them" 0 "gcc-multilib" "" FAKE_INSTALL=ok
check "i386 is added for the Wine packages" 0 "dpkg --add-architecture i386" "" FAKE_INSTALL=ok

if [ "$failures" -ne 0 ]; then echo "$failures set-up cases failed"; exit 1; fi
