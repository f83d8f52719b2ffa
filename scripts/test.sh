#!/bin/sh
# Sets up, builds and runs the whole test suite: the normal build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build and the big-endian build;
# then compiles the board flavour with the board's compiler.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
JOBS=$(nproc)
for flavour in sim sanitize; do
    dir=build/$flavour
    extra=""
    [ "$flavour" = sanitize ] && extra="-DCFGPULL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"
    cmake -S . -B "$dir" $extra >/dev/null
    cmake --build "$dir" -j "$JOBS"
    echo "== tests: $flavour"
    ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$dir" -j "$JOBS" --output-on-failure
done
sh scripts/bigendian.sh
sh scripts/powerpc.sh
