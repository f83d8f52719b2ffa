#!/bin/sh
# Sets up, builds and runs the whole test suite: the normal build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build (with clang) and the
# big-endian build; compiles everything at -O3, and builds and packages the
# board flavour with the board's compiler.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
JOBS=$(nproc)
for flavour in sim sanitize; do
    dir=build/$flavour
    extra=""
    # The sanitizer build is also the clang build.
    [ "$flavour" = sanitize ] && extra="-DCFGPULL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++"
    cmake -S . -B "$dir" -DCFGPULL_WERROR=ON $extra >/dev/null
    cmake --build "$dir" -j "$JOBS"
    echo "== tests: $flavour"
    ASAN_OPTIONS=detect_leaks=1 sh scripts/ctest.sh "$dir"
done
# Every target compiles at -O3 too, whose warnings differ (not run).
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DCFGPULL_WERROR=ON >/dev/null
cmake --build build/release -j "$JOBS"
sh scripts/bigendian.sh
sh scripts/powerpc.sh

# -- Fuzzing: a short fixed run of each fuzz target (the corpora are already
# replayed by ctest above). Long runs: see the README.
if command -v clang++ >/dev/null 2>&1; then
    for target in nvram uboot fru rs; do
        echo "== fuzz: $target (${FUZZ_SECONDS:-20} s)"
        if ! sh scripts/fuzz.sh "$target" "${FUZZ_SECONDS:-20}" >"build/fuzz-$target.log" 2>&1; then
            tail -n 40 "build/fuzz-$target.log"
            exit 1
        fi
        grep -E '^Done|^stat::number_of_executed_units' "build/fuzz-$target.log"
    done
fi

# One closing line for the three test runs.
total=0
for dir in build/sim build/sanitize build/s390x; do
    n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$dir/ctest.log")
    total=$((total + n))
done
echo "tests: $total passed, 0 failed"
