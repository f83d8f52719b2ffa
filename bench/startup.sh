#!/bin/sh
# Start-up cost of cfgpull at boot: the instructions (callgrind) of one
# `cfgpull -a` over a formatted image in a simulated module, less those of a
# C++ hello world (the dynamic loader and libstdc++'s own start-up).
# Usage: sh bench/startup.sh [BUILD_DIR]   (default build/sim)
set -e
cd "$(dirname "$0")/.."
build=${1:-build/sim}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$build/bin/blank_module" "$tmp/module"
# The first run formats the erased device; the second is a plain boot.
CFGPULL_SIM_ROOT=$tmp/module "$build/bin/cfgpull" -a >/dev/null 2>&1
printf '#include <iostream>\nint main() { std::cout << "hello\\n"; }\n' >"$tmp/hello.cpp"
${CXX:-g++} -O2 -o "$tmp/hello" "$tmp/hello.cpp"
instructions() {
    valgrind --tool=callgrind --callgrind-out-file="$tmp/out" "$@" >/dev/null 2>&1
    sed -n 's/^summary: *//p' "$tmp/out"
}
total=$(CFGPULL_SIM_ROOT=$tmp/module instructions "$build/bin/cfgpull" -a)
hello=$(instructions "$tmp/hello")
echo "cfgpull -a: $total instructions; hello world: $hello; cfgpull's own: $((total - hello))"
