#!/usr/bin/env bash
# Runs one Windows test program under Wine in the environment ./run set up
# (WINEPREFIX, DISPLAY, the Korean locale); its exit code is the test's.
# Arguments after the program are passed on.
set -u
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  echo "wine-run: start the environment first (./run test does)" >&2
  exit 2
fi
export LANG=ko_KR.UTF-8 LC_ALL=ko_KR.UTF-8 WINEDEBUG=-all
exec timeout 600 wine "$@"
