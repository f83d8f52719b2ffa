#!/bin/sh
# Fuzzes one target of fuzz/ with libFuzzer (clang), starting from its
# committed corpus: scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
# TARGET is one of FUZZ_TARGETS in fuzz/CMakeLists.txt. New inputs go to build/fuzz/corpus/TARGET,
# a crashing input to build/fuzz/artifacts/ (add it to fuzz/corpus/TARGET
# once fixed). Exits non-zero on a finding.
set -e
cd "$(dirname "$0")/.."
target=$1
seconds=$2
[ -n "$target" ] && [ -n "$seconds" ] || { echo "usage: $0 TARGET SECONDS [libFuzzer options]" >&2; exit 2; }
shift 2
dir=build/fuzz
if [ ! -f "$dir/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$dir" -DCFGPULL_FUZZ=ON -DCFGPULL_TESTS=OFF -DCFGPULL_WERROR=ON >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" --target "fuzz_$target" >/dev/null
mkdir -p "$dir/corpus/$target" "$dir/artifacts"
"$dir/bin/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/$target-" "$@" "$dir/corpus/$target" "fuzz/corpus/$target"
