#!/bin/sh
# Simulated discoverable devices in a network namespace, for trying the
# device search of Fieldmate without hardware. Run as root.
#
#   scripts/discovery-lab.sh up [COUNT [LINK_ONLY]] [-- DEVSIM-OPTIONS...]
#       Creates the namespace "fm-devices" and a veth pair: "fm-host"
#       (10.77.0.1/24, on this machine) and "fm-dev" (inside the namespace).
#       Starts devsim there with COUNT devices (default 5) at 10.77.0.10 and
#       up, plus two devices at 192.168.200.5 and .6 that fit no subnet of
#       this machine (only the link-layer search finds them). LINK_ONLY
#       (default 0, up to 4000) more devices at 192.168.100.1 and up answer
#       only link frames (a second devsim, --link-only). Further devsim
#       options follow "--", e.g. -- --set 10.77.0.10/udp-form=short
#   scripts/discovery-lab.sh down
#       Stops devsim and removes the namespace (the veth pair goes with it).
#   scripts/discovery-lab.sh status
#
# Environment: DEVSIM (path of the devsim program; default build/devsim/devsim
# of this source tree), FM_LAB_NS, FM_LAB_HOST_IF, FM_LAB_DEV_IF.
set -eu

NS=${FM_LAB_NS:-fm-devices}
HOST_IF=${FM_LAB_HOST_IF:-fm-host}
DEV_IF=${FM_LAB_DEV_IF:-fm-dev}
HOST_ADDR=10.77.0.1/24
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DEVSIM=${DEVSIM:-$ROOT/build/devsim/devsim}
RUN_DIR=/run/fieldmate-lab
PID_FILE=$RUN_DIR/$NS.pid
LOG_FILE=$RUN_DIR/$NS.log
LINK_PID_FILE=$RUN_DIR/$NS-link.pid
LINK_LOG_FILE=$RUN_DIR/$NS-link.log

need_root() {
    if [ "$(id -u)" != 0 ]; then
        echo "discovery-lab: run as root (namespaces and packet capture need it)" >&2
        exit 1
    fi
}

down() {
    for f in "$PID_FILE" "$LINK_PID_FILE"; do
        if [ -f "$f" ]; then
            kill "$(cat "$f")" 2>/dev/null || true
            rm -f "$f"
        fi
    done
    if ip netns list | grep -qw "^$NS"; then
        ip netns delete "$NS"
    fi
    ip link delete "$HOST_IF" 2>/dev/null || true
    echo "discovery-lab: removed $NS"
}

# Waits until the devsim logging to $1 (pid in file $2) is ready, polling
# at most $3 times; ends the script when it does not start.
wait_ready() {
    i=0
    until grep -q "device(s) ready" "$1" 2>/dev/null; do
        i=$((i + 1))
        if [ $i -gt "$3" ] || ! kill -0 "$(cat "$2")" 2>/dev/null; then
            echo "discovery-lab: $4 did not start:" >&2
            cat "$1" >&2
            exit 1
        fi
        sleep 0.1
    done
}

up() {
    count=5
    link_only=0
    if [ $# -gt 0 ] && [ "$1" != "--" ]; then
        count=$1
        shift
    fi
    if [ $# -gt 0 ] && [ "$1" != "--" ]; then
        link_only=$1
        shift
    fi
    if [ "$link_only" -lt 0 ] || [ "$link_only" -gt 4000 ]; then
        echo "discovery-lab: LINK_ONLY must be 0 to 4000" >&2
        exit 2
    fi
    [ $# -gt 0 ] && [ "$1" = "--" ] && shift
    if [ "$count" -lt 1 ] || [ "$count" -gt 240 ]; then
        echo "discovery-lab: COUNT must be 1 to 240" >&2
        exit 2
    fi
    if [ ! -x "$DEVSIM" ]; then
        echo "discovery-lab: no devsim at $DEVSIM (build first, or set DEVSIM)" >&2
        exit 1
    fi
    if ip netns list | grep -qw "^$NS"; then
        echo "discovery-lab: $NS exists already; run '$0 down' first" >&2
        exit 1
    fi
    mkdir -p "$RUN_DIR"
    trap 'down >/dev/null 2>&1' EXIT INT TERM
    ip netns add "$NS"
    ip link add "$HOST_IF" type veth peer name "$DEV_IF" netns "$NS"
    ip address add "$HOST_ADDR" dev "$HOST_IF"
    ip link set "$HOST_IF" up
    ip -n "$NS" link set lo up
    ip -n "$NS" link set "$DEV_IF" up

    last=$((10 + count - 1))
    ip netns exec "$NS" "$DEVSIM" --discovery "$DEV_IF" --assign \
        --range "10.77.0.10-10.77.0.$last" --listen 192.168.200.5 --listen 192.168.200.6 \
        --set 192.168.200.6/product=Unreachable "$@" >"$LOG_FILE" 2>&1 &
    echo $! >"$PID_FILE"
    wait_ready "$LOG_FILE" "$PID_FILE" 100 devsim
    if [ "$link_only" -gt 0 ]; then
        first=$((0xC0A86401)) # 192.168.100.1
        last=$((first + link_only - 1))
        last_ip=$((last >> 24 & 255)).$((last >> 16 & 255)).$((last >> 8 & 255)).$((last & 255))
        ip netns exec "$NS" "$DEVSIM" --discovery "$DEV_IF" --link-only \
            --range "192.168.100.1-$last_ip" --set quiet=1 >"$LINK_LOG_FILE" 2>&1 &
        echo $! >"$LINK_PID_FILE"
        wait_ready "$LINK_LOG_FILE" "$LINK_PID_FILE" 300 "link-only devsim"
    fi
    trap - EXIT INT TERM
    echo "discovery-lab: $((count + 2 + link_only)) devices ready in namespace $NS (log: $LOG_FILE)"
    echo "discovery-lab: in Fieldmate (as root), Device Search page, choose \"$HOST_IF\" and press Refresh"
}

status() {
    if ip netns list | grep -qw "^$NS"; then
        echo "namespace $NS:"
        ip -n "$NS" -4 -brief address show dev "$DEV_IF"
        [ -f "$PID_FILE" ] && kill -0 "$(cat "$PID_FILE")" 2>/dev/null &&
            echo "devsim running (pid $(cat "$PID_FILE")), log $LOG_FILE"
    else
        echo "no namespace $NS"
    fi
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
up) need_root; up "$@" ;;
down) need_root; down ;;
status) status ;;
*)
    sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
