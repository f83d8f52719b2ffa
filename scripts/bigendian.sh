#!/bin/sh
# Builds the unit and end-to-end suites for s390x (big-endian, like the board)
# and runs them under qemu-user. The s390x libraries are Debian's packages,
# fetched with a private package list and unpacked into the build tree, so the
# host's apt configuration is left as it is.
set -e
cd "$(dirname "$0")/.."
root=$PWD/build/s390x-sysroot
if [ ! -e "$root/.unpacked" ]; then
    apt=$PWD/build/s390x-apt
    mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$apt/debs"
    set -- -qq -o APT::Architectures=s390x -o Dir::State::Lists="$apt/lists" \
        -o Dir::Cache="$apt" -o APT::Sandbox::User=root
    apt-get "$@" update
    (cd "$apt/debs" && apt-get "$@" download libcrypt1:s390x libcrypt-dev:s390x libgtest-dev:s390x libfec0:s390x libfec-dev:s390x)
    for deb in "$apt"/debs/*.deb; do dpkg -x "$deb" "$root"; done
    rm -rf "$apt"
    touch "$root/.unpacked"
fi
dir=build/s390x
cmake --no-warn-unused-cli -S . -B $dir -DCMAKE_TOOLCHAIN_FILE=cmake/s390x.cmake -DCFGPULL_S390X_ROOT="$root" -DCFGPULL_WERROR=ON -DCFGPULL_TESTS=ON >/dev/null
cmake --build $dir -j "$(nproc)"
sh scripts/ctest.sh $dir
