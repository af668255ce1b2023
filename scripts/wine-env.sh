# Sourced by ./run: a private Wine prefix inside the build folder, the Korean
# locale (ANSI code page 949) and a display.  wine_env_start starts a private
# Xvfb when asked to (or when there is no $DISPLAY) and a persistent Wine
# server; wine_env_stop stops exactly what wine_env_start started.

wine_env_init() {
  export WINEPREFIX="$BUILD_ROOT/wineprefix"
  export WINEARCH=win32
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export LANG=ko_KR.UTF-8 LC_ALL=ko_KR.UTF-8
}

_free_display() {
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  echo "$n"
}

wine_env_start() {   # $1 = "private" to force a private Xvfb
  wine_env_init
  SFX_XVFB_PID=""
  if [ "${1:-}" = private ] || [ -z "${DISPLAY:-}" ]; then
    local n; n=$(_free_display)
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    SFX_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  if [ ! -f "$WINEPREFIX/.sfx-ready" ]; then
    echo "wine: making the prefix $WINEPREFIX (once)"
    # A persistent server left by an earlier run on this prefix never exits,
    # and the waits below would wait for it for ever.
    wineserver -k >/dev/null 2>&1 || true
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    # A virtual desktop gives windows a frame and caption without a window
    # manager, and spares the 2-second wait on every window closed without one.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    # The dialogs ask for the fixed-pitch Korean system font; Nanum stands in.
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v '굴림체' /d 'NanumGothicCoding' /f >/dev/null 2>&1
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v 'GulimChe' /d 'NanumGothicCoding' /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.sfx-ready"
  fi
  # Caption buttons draw with Marlett, which this Wine finds only in the
  # prefix's own font folder (without it they show as letters).
  local marlett=/usr/share/wine/fonts/marlett.ttf
  if [ -f "$marlett" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf" ]; then
    cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  # E: is an empty drive, for the tests of an existing root without entries.
  mkdir -p "$BUILD_ROOT/wine-drive-e"
  find "$BUILD_ROOT/wine-drive-e" -mindepth 1 -delete 2>/dev/null || true
  ln -sfn "$BUILD_ROOT/wine-drive-e" "$WINEPREFIX/dosdevices/e:"
  wineserver -p >/dev/null 2>&1 || true
  # Start Wine's own services now, with no inherited output: started by the
  # first test instead, they would hold its output pipe (and CTest) open.
  wineboot >/dev/null 2>&1 </dev/null || true
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${SFX_XVFB_PID:-}" ]; then
    kill "$SFX_XVFB_PID" 2>/dev/null || true
    wait "$SFX_XVFB_PID" 2>/dev/null || true
    SFX_XVFB_PID=""
  fi
}

# Screenshot of the whole display as PNG.
wine_screenshot() {
  xwd -root -silent -display "$DISPLAY" | convert xwd:- "png:$1"
}
