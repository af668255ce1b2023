#!/usr/bin/env bash
# Regenerates the pictures in docs/screenshots/ from the real stub under
# Wine: the tour program stops at every sight and leaves a request (name
# and window rectangle) in C:\sfx_shots; this script takes the picture,
# crops it to the windows and lets the tour go on.
#   scripts/screenshots.sh BUILD_FOLDER     (./run screenshots calls it)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_ROOT=$(realpath -m "${1:?build folder}")
OUT="$ROOT/docs/screenshots"
TOUR="$BUILD_ROOT/win/tests/win/e2e_tour_test.exe"
[ -x "$TOUR" ] || { echo "screenshots: $TOUR is missing (build first)" >&2; exit 1; }
source "$ROOT/scripts/wine-env.sh"
wine_env_start private
trap wine_env_stop EXIT

REQUESTS="$WINEPREFIX/drive_c/sfx_shots"
rm -rf "$REQUESTS"
mkdir -p "$REQUESTS" "$OUT"
TMP=$(mktemp -d)
trap 'wine_env_stop; rm -rf "$TMP"' EXIT

# The whole display, with every top-level window of the Wine desktop laid
# over it from its own contents: on the root window alone, a window that
# opens over another one shows black.
snap() {
  wine_screenshot "$TMP/root.png"
  local layers=() n=0 id geometry
  while read -r id geometry; do
    n=$((n + 1))
    xwd -id "$id" -silent -display "$DISPLAY" | convert xwd:- "$TMP/win$n.png" || continue
    layers=("$TMP/win$n.png" -geometry "+${geometry#*+}" -composite "${layers[@]}")
  done < <(xwininfo -root -tree -display "$DISPLAY" | awk '
      /Wine desktop/ { inside = 1; next }
      inside && /^ +0x/ {
        match($0, /^ +/); if (!depth) depth = RLENGTH; if (RLENGTH != depth) next
        g = $(NF - 1); split(g, p, /[x+]/); if (p[1] > 1 && p[2] > 1) print $1, g
      }')
  convert "$TMP/root.png" "${layers[@]}" "png:$1"
}

shots=0
# One pass of the tour: $1 the system locale (it decides Wine's ANSI code
# page), $2 the prefix of the pictures' names, $3 the one case to run (all
# when empty).
tour_pass() {
  (cd "$BUILD_ROOT/win" && LANG=$1 LC_ALL=$1 SFX_SHOTS=${2:-1} timeout 600 wine "$TOUR" ${3:+"$3"} \
     >"$TMP/tour.log" 2>&1; echo $? >"$TMP/rc") &
  local job=$!
  while kill -0 "$job" 2>/dev/null; do
    if [ -f "$REQUESTS/request.txt" ]; then
      read -r name x y w h <"$REQUESTS/request.txt" || true
      snap "$TMP/full.png"
      # A few pixels of the desktop around the frame; never outside the screen.
      x=$((x > 4 ? x - 4 : 0)); y=$((y > 4 ? y - 4 : 0)); w=$((w + 8)); h=$((h + 8))
      convert "$TMP/full.png" -crop "${w}x${h}+${x}+${y}" +repage "$OUT/$name.png"
      echo "screenshots: $name.png (${w}x${h})"
      shots=$((shots + 1))
      rm -f "$REQUESTS/request.txt"
    fi
    sleep 0.2
  done
  wait "$job" || true
  tr -d '\r' <"$TMP/tour.log" | iconv -f CP949 -t UTF-8 -c | grep -E 'passed|FAIL|CHECK|!=' || true
  [ "$(cat "$TMP/rc")" = 0 ]
}

rc=0
tour_pass ko_KR.UTF-8 "" "" || rc=1
# The same Korean program on an English system (ANSI code page 1252).
tour_pass en_US.UTF-8 english- SortedListWithTheRunCheckBox || rc=1
# At 150 % (144 DPI): the program declares itself DPI-aware, so Windows
# scales its fonts and dialog units instead of stretching a bitmap.
set_dpi() { wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1; }
set_dpi 144
tour_pass ko_KR.UTF-8 dpi144- SortedListWithTheRunCheckBox || rc=1
tour_pass ko_KR.UTF-8 dpi144- BrowseOpensTheFolderDialogAndCancelKeepsTheField || rc=1
set_dpi 96
echo "screenshots: $shots pictures in $OUT"
[ "$rc" = 0 ]
