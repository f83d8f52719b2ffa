#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need.
set -e
PACKAGES="cmake g++ make zlib1g-dev libcrypt-dev libgtest-dev libbenchmark-dev libfec-dev
u-boot-tools snmpd snmp nlohmann-json3-dev
g++-s390x-linux-gnu binutils-s390x-linux-gnu qemu-user
g++-powerpc-linux-gnu binutils-powerpc-linux-gnu"
# Fuzzing (scripts/fuzz.sh): libFuzzer comes with clang's runtime.
PACKAGES="$PACKAGES clang libclang-rt-14-dev"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
fi
