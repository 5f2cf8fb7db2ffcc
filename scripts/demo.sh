#!/bin/sh
# Installs what is missing, builds, starts a simulated device on 127.0.0.1
# port 8712 and starts Fieldmate. Type 127.0.0.1, press Connect.
set -e
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
# The build folder is Fieldmate's working directory: it holds
# translations/zh.qm, and Fieldmate keeps its config/ folder there.
cd build
./devsim/devsim --listen 127.0.0.1 --port 8712 &
DEVSIM=$!
trap 'kill $DEVSIM 2>/dev/null' EXIT INT TERM
./fieldmate
