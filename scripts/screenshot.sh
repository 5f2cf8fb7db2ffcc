#!/bin/sh
# Screenshots of Fieldmate under Xvfb (display :97) at its built-in size of
# 800 x 600, connected to a simulated device on 127.0.0.1 port 8712. Needs a
# build in build/.
#
#   scripts/screenshot.sh [OUT]            the Programming page in English, with
#                                          the device's version read
#                                          (default docs/mainwindow.png)
#   scripts/screenshot.sh --all DIR        every page (the console too) in both
#                                          languages: DIR/en-1-programming.png ...
#   scripts/screenshot.sh --page N [--lang zh] OUT
#                                          page N (1 Programming ... 7 console)
set -e
cd "$(dirname "$0")/.."
ROOT=$(pwd)
MODE=docs
PAGE=1
LANGS=en
OUT=
while [ $# -gt 0 ]; do
    case "$1" in
    --all) MODE=all; OUT=$2; LANGS="en zh"; shift 2 ;;
    --page) MODE=page; PAGE=$2; shift 2 ;;
    --lang) LANGS=$2; shift 2 ;;
    *) OUT=$1; shift ;;
    esac
done
[ -n "$OUT" ] || OUT=$ROOT/docs/mainwindow.png
case "$OUT" in /*) ;; *) OUT=$ROOT/$OUT ;; esac
[ "$MODE" = all ] && mkdir -p "$OUT"

WORK=$(mktemp -d)
DISPLAY_NO=:97
FM=
cleanup() {
    [ -n "$FM" ] && kill "$FM" 2>/dev/null || true
    kill "$DEVSIM" "$XVFB" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

Xvfb $DISPLAY_NO -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
export DISPLAY=$DISPLAY_NO
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

build/devsim/devsim --listen 127.0.0.1 --port 8712 --set log-rate=5 >"$WORK/devsim.log" 2>&1 &
DEVSIM=$!

NAMES="programming settings fixed-parameters display-log serial-port-test device-search console"

# Starts Fieldmate in a fresh working directory in language $1 (en or zh),
# connects it to the simulated device and sets WIN.
start() {
    rm -rf "$WORK/run"
    mkdir -p "$WORK/run/translations" "$WORK/run/config"
    cp build/translations/zh.qm "$WORK/run/translations/"
    if [ "$1" = zh ]; then
        printf 'language=Chinese\n' >"$WORK/run/config/settings.ini"
    else
        printf 'language=English\n' >"$WORK/run/config/settings.ini"
    fi
    (cd "$WORK/run" && exec "$ROOT/build/fieldmate") &
    FM=$!
    WIN=
    for _ in $(seq 100); do
        WIN=$(xdotool search --name '^Fieldmate$' 2>/dev/null | head -n 1)
        [ -n "$WIN" ] && break
        sleep 0.1
    done
    [ -n "$WIN" ] || { echo "no Fieldmate window" >&2; exit 1; }
    sleep 1
    # There is no window manager: click into the address entry, type the
    # address and press Enter, which connects.
    xdotool mousemove --window "$WIN" 330 43 click 1
    xdotool type --delay 20 "127.0.0.1"
    xdotool key Return
    sleep 1.5
}

stop() {
    kill "$FM" 2>/dev/null || true
    wait "$FM" 2>/dev/null || true
    FM=
}

# Shows page $1 (1 ... 7): the first list row is clicked, then the arrow
# keys move down the list. The console page is opened first by five clicks
# on the status text.
show_page() {
    if [ "$1" -eq 7 ]; then
        # Apart enough not to make double clicks, which do not count.
        for _ in 1 2 3 4 5; do
            xdotool mousemove --window "$WIN" 40 590 click 1
            sleep 0.5
        done
        sleep 0.3
    fi
    xdotool mousemove --window "$WIN" 60 70 click 1
    i=1
    while [ $i -lt "$1" ]; do xdotool key Down; i=$((i + 1)); done
    sleep 0.7
}

# Fills page $1 with something to look at.
act_on_page() {
    case "$1" in
    4) # Display Log: the list of files, then open the first one.
        xdotool key Tab Tab Tab space
        sleep 0.7
        xdotool key shift+Tab space
        sleep 1.5 ;;
    6) # Device Search: a device's reply (the page takes replies at any
        # time, from any sender), two interfaces with their MACs.
        python3 - <<'PY'
import socket, struct
def entry(name, ip, mask, mac):
    n = name.encode()
    return (struct.pack(">HB", len(n) + 14, len(n)) + n + socket.inet_aton(ip)
            + socket.inet_aton(mask) + bytes.fromhex(mac))
product = b"RTU-7 Remote Terminal"
reply = (b"\x00\x25\x18" + bytes([len(product)]) + product
         + entry("eth0", "127.0.0.1", "255.255.255.0", "0a1b2c3d4e5f")
         + entry("eth1", "192.168.200.5", "255.255.255.0", "0a1b2c3d4e60"))
socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(reply, ("127.0.0.1", 8888))
PY
        sleep 0.7
        [ -n "$SCROLL_RIGHT" ] && xdotool mousemove --window "$WIN" 773 520 click --repeat 30 1
        sleep 0.3 ;;
    7) # Console: one command.
        xdotool mousemove --window "$WIN" 475 535 click 1
        xdotool type --delay 10 "echo hello"
        xdotool key Return
        sleep 0.7 ;;
    esac
}

# The screen's part under the window, so that open popups are seen too
# (there is no window manager: the window is at 0,0).
shoot() {
    eval "$(xdotool getwindowgeometry --shell "$WIN")"
    import -window root -crop "${WIDTH}x${HEIGHT}+0+0" +repage "$1"
    echo "wrote $1"
}

case $MODE in
docs)
    start en
    # Read the device's version on the Programming page.
    xdotool mousemove --window "$WIN" 695 223 click 1
    sleep 1
    shoot "$OUT" ;;
page)
    start "$LANGS"
    show_page "$PAGE"
    act_on_page "$PAGE"
    shoot "$OUT" ;;
all)
    for lang in $LANGS; do
        start "$lang"
        n=1
        for name in $NAMES; do
            show_page $n
            act_on_page $n
            shoot "$OUT/$lang-$n-$name.png"
            if [ $n -eq 4 ]; then
                # The list of log files, open.
                xdotool key shift+Tab space
                sleep 0.5
                shoot "$OUT/$lang-$n-$name-list.png"
                xdotool key Escape
            fi
            n=$((n + 1))
        done
        stop
    done ;;
esac
