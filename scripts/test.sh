#!/bin/sh
# The whole test suite: sets up, builds and runs the tests in the normal
# build, the AddressSanitizer + UndefinedBehaviorSanitizer build (with clang)
# and the build for the board's CPU (32-bit big-endian PowerPC, under
# qemu-ppc); compiles everything at -O3; builds and packages
# the board flavour with the board's compiler; fuzzes each target briefly.
# One heading and one timing per stage.
set -e
cd "$(dirname "$0")/.."
started=$(date +%s)
stage_started=$started
stage() {
    echo
    echo "== $*"
    stage_started=$(date +%s)
}
took() {
    echo "   done in $(($(date +%s) - stage_started)) s"
}

stage "setup: Debian packages"
sh scripts/setup.sh test
took

JOBS=$(nproc)
for flavour in sim sanitize; do
    dir=build/$flavour
    extra=""
    # The sanitizer build is also the clang build.
    [ "$flavour" = sanitize ] && extra="-DCFGPULL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++"
    stage "build: $flavour"
    cmake -S . -B "$dir" -DCFGPULL_WERROR=ON -DCFGPULL_TESTS=ON $extra >/dev/null
    cmake --build "$dir" -j "$JOBS"
    took
    stage "tests: $flavour"
    ASAN_OPTIONS=detect_leaks=1 sh scripts/ctest.sh "$dir"
    took
done

# Every target compiles at -O3 too, whose warnings differ (not run).
stage "compile: every target at -O3 (Release)"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DCFGPULL_WERROR=ON -DCFGPULL_TESTS=ON >/dev/null
cmake --build build/release -j "$JOBS"
took

stage "tests: ppc32 (the board's CPU, 32-bit big-endian, under qemu-ppc)"
sh scripts/ppc32.sh
took

stage "build and package: the board flavour with the board's compiler"
sh scripts/powerpc.sh
took

if command -v clang++ >/dev/null 2>&1; then
    for target in nvram uboot fru rs values import; do
        stage "fuzz: $target for ${FUZZ_SECONDS:-20} s"
        if ! sh scripts/fuzz.sh "$target" "${FUZZ_SECONDS:-20}" >"build/fuzz-$target.log" 2>&1; then
            tail -n 40 "build/fuzz-$target.log"
            exit 1
        fi
        grep -E '^Done|^stat::number_of_executed_units' "build/fuzz-$target.log"
    done
fi

stage "size of the suite"
sh scripts/test_ratio.sh

# The tests of each build: the checks of the README and the manual pages run
# in the native builds only, and the tests that need strace are skipped
# under the emulator.
echo
total=0
summary=""
for dir in build/sim build/sanitize build/ppc32; do
    log=$dir/ctest.log
    n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log")
    skipped=$(grep -c '\*\*\*Skipped' "$log" || true)
    total=$((total + n))
    summary="$summary, ${dir#build/} $n ($skipped skipped)"
done
echo "tests:${summary#,}: $total run, 0 failed ($(( ($(date +%s) - started) / 60 )) min)"
