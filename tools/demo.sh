#!/usr/bin/env bash
# Builds the suite and shows it against the virtual scope: first Quorvex with the
# scope's live screen, then Haldrin writing a sample firmware image into the
# virtual scope's boot loader. Without a display it runs both on a virtual X
# server, presses the buttons itself and leaves screenshots in build/demo/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
out=$build/demo

headless=0
if [ "${1:-}" = "--headless" ]; then
  headless=1
elif [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  bash "$top/tools/install-deps.sh"
  command -v xdotool >/dev/null || { s=""; [ "$(id -u)" -ne 0 ] && s=sudo; $s apt-get install -y xdotool; }
  echo "No display found: running the demo on a virtual X server; screenshots go to $out/"
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --headless
fi

if [ $headless -eq 0 ]; then
  bash "$top/tools/install-deps.sh"
fi
cmake -S "$top" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target ftd2xx virtual-scope quorvex haldrin
bin=$build/bin
mkdir -p "$out"
work=$(mktemp -d)
scope=""
cleanup() {
  [ -n "$scope" ] && kill "$scope" 2>/dev/null && wait "$scope" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
stop() { kill "$1"; wait "$1" 2>/dev/null || true; }

me=demo
source "$top/tools/find-window.sh"

echo "== Quorvex against the virtual scope's live screen"
"$bin/virtual-scope" --name demo-scope &
scope=$!
if [ $headless -eq 1 ]; then
  "$bin/quorvex" &
  app=$!
  w=$(window "Quorvex Ver 1.2")
  xdotool windowfocus --sync "$w" key space   # "Real Time" has the focus at start
  sleep 3
  import -window root "$out/quorvex.png"
  stop "$app"
  echo "   screenshot: $out/quorvex.png"
else
  echo "   press Real Time; close the window to go on"
  "$bin/quorvex" || true
fi
stop "$scope"
scope=""

echo "== Haldrin writing a 1 MiB firmware image into the virtual scope's boot loader"
image=$work/DEMO.BIN
head -c 1048576 /dev/urandom >"$image"
"$bin/virtual-scope" --name demo-scope --firmware bootloader --flash-file "$work/flash.bin" &
scope=$!
if [ $headless -eq 1 ]; then
  "$bin/haldrin" &
  app=$!
  w=$(window "Select Bin File")          # opens by itself once the boot loader answers
  xdotool windowfocus --sync "$w" type --delay 5 "$image"
  xdotool key Return
  sleep 1
  import -window root "$out/haldrin-download.png"
  window "^Haldrin$" >/dev/null           # the completion dialog
  import -window root "$out/haldrin-finished.png"
  stop "$app"
  echo "   screenshots: $out/haldrin-download.png, $out/haldrin-finished.png"
else
  echo "   pick $image in the file selection that opens; press Finish at the end"
  "$bin/haldrin" || true
fi
stop "$scope"
scope=""
if cmp -s -n 1048576 "$image" "$work/flash.bin"; then
  echo "   the virtual scope's flash holds the image"
else
  echo "   the virtual scope's flash does not hold the image (download not completed)"
fi
