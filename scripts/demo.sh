#!/bin/sh
# Installs what is missing, builds Fieldmate, the device simulator and the
# catalogue (no tests, fuzzers or benchmarks), starts a simulated device on
# 127.0.0.1 port 8712 and starts Fieldmate. Type 127.0.0.1, press Connect.
set -e
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -Wno-dev
cmake --build build -j "$(nproc)" --target fieldmate devsim translations
# The build folder is Fieldmate's working directory: it holds
# translations/zh.qm, and Fieldmate keeps its config/ folder there.
cd build
./devsim/devsim --listen 127.0.0.1 --port 8712 &
DEVSIM=$!
trap 'kill $DEVSIM 2>/dev/null' EXIT INT TERM
./fieldmate
