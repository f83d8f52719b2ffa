#!/bin/sh
# Start-up cost of cfgpull at boot: the instructions (callgrind) and the
# system calls (strace) of one `cfgpull -a` that finds nothing changed, in a
# simulated module, next to those of a C++ hello world (the dynamic loader,
# libc's and libstdc++'s own start-up; no <iostream>, which cfgpull does not
# include and whose start-up would flatter the figure).
# Usage: sh bench/startup.sh [BUILD_DIR]   (default build/sim)
set -e
cd "$(dirname "$0")/.."
build=${1:-build/sim}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$build/bin/blank_module" "$tmp/module"
# The first run formats the erased device, the second writes the files;
# the third is a boot with nothing changed.
CFGPULL_SIM_ROOT=$tmp/module "$build/bin/cfgpull" -a >/dev/null 2>&1
CFGPULL_SIM_ROOT=$tmp/module "$build/bin/cfgpull" -a >/dev/null 2>&1
printf '#include <cstdio>\n#include <string>\nint main(int argc, char **) { std::string s(argc, 104); std::puts(s.c_str()); }\n' \
    >"$tmp/hello.cpp"
${CXX:-g++} -O2 -o "$tmp/hello" "$tmp/hello.cpp"
instructions() {
    valgrind --tool=callgrind --callgrind-out-file="$tmp/out" "$@" >/dev/null 2>&1
    sed -n 's/^summary: *//p' "$tmp/out"
}
calls() {
    strace -f -c -o "$tmp/calls" "$@" >/dev/null 2>&1
    awk '$NF == "total" { print $4 }' "$tmp/calls"
}
export CFGPULL_SIM_ROOT=$tmp/module
total=$(instructions "$build/bin/cfgpull" -a)
hello=$(instructions "$tmp/hello")
echo "instructions: cfgpull -a $total, hello world $hello, cfgpull's own $((total - hello))"
echo "system calls: cfgpull -a $(calls "$build/bin/cfgpull" -a), hello world $(calls "$tmp/hello")"
