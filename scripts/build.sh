#!/bin/sh
# Configures and builds into build/ (or the folder given as $BUILD_DIR) with
# any extra CMake arguments given.
set -e
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -Wno-dev "$@"
cmake --build "$BUILD_DIR" -j "$(nproc)"
