#!/bin/sh
# Installs what is missing, builds, and makes the Debian package
# build/fieldmate_VERSION_ARCH.deb. Install it with
#   sudo apt install ./build/fieldmate_*.deb
set -e
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR" -j "$(nproc)" --target fieldmate devsim translations package_docs
(cd "$BUILD_DIR" && cpack -G DEB)
ls "$BUILD_DIR"/fieldmate_*.deb
