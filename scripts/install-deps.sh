#!/bin/sh
# Installs what Fieldmate needs to build, run and test on Debian 12.
# Idempotent: packages already present are left alone.
set -e
PACKAGES="
 build-essential cmake ninja-build pkg-config git
 qtbase5-dev qttools5-dev qttools5-dev-tools libqt5network5 qttranslations5-l10n
 libpcap-dev libdw-dev libquazip1-qt5-dev
 libbenchmark-dev clang gdb
 lintian dpkg-dev
 iproute2 xvfb x11-apps x11-utils xdotool imagemagick fonts-noto-cjk
"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $p"
done
if [ -n "$missing" ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    echo "Installing:$missing"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
