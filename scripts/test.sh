#!/bin/sh
# Installs what is missing, builds and runs every test twice: in a normal
# build, and in a build with AddressSanitizer and UndefinedBehaviorSanitizer
# (any finding is fatal). Also runs the threaded tests under ThreadSanitizer.
set -e
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
JOBS=$(nproc)

echo "== build and test (RelWithDebInfo)"
BUILD_DIR=build ./scripts/build.sh
(cd build && ctest --output-on-failure -j "$JOBS")

echo "== build and test with AddressSanitizer + UndefinedBehaviorSanitizer"
BUILD_DIR=build-asan ./scripts/build.sh -DCMAKE_BUILD_TYPE=Debug \
    -DFM_SANITIZE=address,undefined -DFM_BUILD_BENCH=OFF
(cd build-asan && ctest --output-on-failure -j "$JOBS")

if ls tests/tst_batch*.cpp >/dev/null 2>&1; then
    echo "== batch tests with ThreadSanitizer"
    BUILD_DIR=build-tsan ./scripts/build.sh -DCMAKE_BUILD_TYPE=Debug \
        -DFM_SANITIZE=thread -DFM_BUILD_BENCH=OFF
    (cd build-tsan && ctest --output-on-failure -R 'tst_batch')
fi
