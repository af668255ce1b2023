#!/usr/bin/env bash
# Runs one Windows test program under Wine in the environment ./run set up
# (WINEPREFIX, DISPLAY, the Korean locale unless SFX_LOCALE names another);
# its exit code is the test's.
# Arguments after the program are passed on.
set -u
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DISPLAY:-}" ]; then
  echo "wine-run: start the environment first (./run test does)" >&2
  exit 2
fi
# SFX_LOCALE runs the program under another system locale (en_US.UTF-8,
# ja_JP.UTF-8): the host locale decides Wine's ANSI code page.
SFX_LOCALE=${SFX_LOCALE:-ko_KR.UTF-8}
export LANG=$SFX_LOCALE LC_ALL=$SFX_LOCALE WINEDEBUG=-all
# SFX_PLANTED_DLLS (names separated by commas) makes Wine prefer a DLL of
# those names found beside the program, as Windows does for names it does not
# protect.  Wine reads this only from the environment a process starts with.
# Its debugger stays off, so a process that a planted DLL breaks just ends.
if [ -n "${SFX_PLANTED_DLLS:-}" ]; then
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}$SFX_PLANTED_DLLS=n,b;winedbg.exe=d"
fi
# SFX_DPI runs the program at another screen resolution (144: 150 %); the
# prefix goes back to 96 afterwards, for the tests that follow.
if [ -n "${SFX_DPI:-}" ]; then
  dpi() { wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1; }
  dpi "$SFX_DPI"
  timeout 600 wine "$@"
  rc=$?
  dpi 96
  exit $rc
fi
exec timeout 600 wine "$@"
