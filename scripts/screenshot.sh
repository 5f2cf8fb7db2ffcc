#!/bin/sh
# Makes docs/mainwindow.png: Fieldmate under Xvfb, connected to a simulated
# device, the Programming page showing. Needs a build in build/.
set -e
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT=${1:-$ROOT/docs/mainwindow.png}
WORK=$(mktemp -d)
DISPLAY_NO=:97
cleanup() {
    kill $FM $DEVSIM $XVFB 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

mkdir -p "$WORK/translations"
cp build/translations/zh.qm "$WORK/translations/"

Xvfb $DISPLAY_NO -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
export DISPLAY=$DISPLAY_NO
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

build/devsim/devsim --listen 127.0.0.1 --port 8712 >"$WORK/devsim.log" 2>&1 &
DEVSIM=$!

cd "$WORK"
"$ROOT/build/fieldmate" &
FM=$!
for _ in $(seq 100); do
    WIN=$(xdotool search --name '^Fieldmate$' 2>/dev/null | head -n 1)
    [ -n "$WIN" ] && break
    sleep 0.1
done
[ -n "$WIN" ] || { echo "no Fieldmate window" >&2; exit 1; }
sleep 1
# There is no window manager: click into the address entry, type the
# address, then press Connect (positions as laid out at 800 x 600).
xdotool mousemove --window "$WIN" 330 43 click 1
xdotool type --delay 20 "127.0.0.1"
xdotool key Return
xdotool mousemove --window "$WIN" 478 43 click 1
sleep 2
# Read the device's version on the Programming page.
xdotool mousemove --window "$WIN" 695 223 click 1
sleep 1
import -window "$WIN" "$OUT"
echo "wrote $OUT"
