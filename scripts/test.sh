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

TSAN_TESTS=$(cd tests && ls tst_batch*.cpp 2>/dev/null | sed 's/\.cpp$//' | tr '\n' ' ')
if [ -n "$TSAN_TESTS" ]; then
    echo "== threaded batch tests with ThreadSanitizer"
    cmake -S . -B build-tsan -G Ninja -Wno-dev -DCMAKE_BUILD_TYPE=Debug \
        -DFM_SANITIZE=thread -DFM_BUILD_BENCH=OFF
    # Only what those tests need.
    cmake --build build-tsan -j "$JOBS" --target devsim translations $TSAN_TESTS
    (cd build-tsan && ctest --output-on-failure -R '^tst_batch')
fi
