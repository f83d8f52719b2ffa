#!/bin/sh
# Runs a build's tests, keeping the whole output in DIR/ctest.log: only its
# summary is printed, or all of it when a test fails.
dir=$1
if ! ctest --test-dir "$dir" -j "$(nproc)" --output-on-failure >"$dir/ctest.log" 2>&1; then
    cat "$dir/ctest.log"
    exit 1
fi
grep -E 'tests passed|Total Test time' "$dir/ctest.log"
