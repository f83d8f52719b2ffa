#!/bin/sh
# Installs the Debian packages a task needs:
#   sh scripts/setup.sh demo   the demo: a native build of the programs
#   sh scripts/setup.sh test   everything (the default): the test suite, the
#                              cross builds, the benchmark and fuzzing
set -e
DEMO="cmake g++ make libcrypt-dev nlohmann-json3-dev"
case "${1:-test}" in
demo) PACKAGES=$DEMO NO_RECOMMENDS=--no-install-recommends ;;
test)
    PACKAGES="$DEMO python3 ninja-build libgtest-dev libbenchmark-dev libfec-dev u-boot-tools snmpd snmp cloc strace util-linux
qemu-user
g++-powerpc-linux-gnu binutils-powerpc-linux-gnu mandoc valgrind hyperfine
autoconf automake libtool"
    # autotools: scripts/ppc32.sh builds libxcrypt from its Debian source.
    # Fuzzing (scripts/fuzz.sh): libFuzzer comes with clang's runtime.
    PACKAGES="$PACKAGES clang libclang-rt-14-dev" ;;
*)
    echo "usage: sh scripts/setup.sh [demo|test]" >&2
    exit 64 ;;
esac
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ${NO_RECOMMENDS:-} $missing >/dev/null
fi
