#!/bin/sh
# Builds the unit, golden and end-to-end suites for 32-bit big-endian
# PowerPC, the board's CPU, and runs them under qemu-ppc. The libraries the
# tests need (libxcrypt, libfec's Reed-Solomon codec, GoogleTest) are built
# from Debian's source packages, fetched with a private package list so that
# the host's apt configuration is left as it is, into build/ppc32-root once.
# Every flavour and library is built with 64-bit off_t and time_t, as the
# board's build is; the test executables are linked statically.
set -e
cd "$(dirname "$0")/.."
root=$PWD/build/ppc32-root
flags="-O2 -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64"
if [ ! -e "$root/.built" ]; then
    src=$PWD/build/ppc32-src
    rm -rf "$src" "$root"
    mkdir -p "$src/lists/partial" "$src/archives/partial" "$root/usr/include" "$root/usr/lib"
    . /etc/os-release
    echo "deb-src http://deb.debian.org/debian $VERSION_CODENAME main" >"$src/sources.list"
    set -- -qq -o Dir::Etc::SourceList="$src/sources.list" -o Dir::Etc::SourceParts=/nonexistent \
        -o Dir::State::Lists="$src/lists" -o Dir::Cache="$src" -o APT::Sandbox::User=root
    apt-get "$@" update
    # The upstream sources only: the Debian changes are packaging.
    (cd "$src" && apt-get "$@" source --tar-only --download-only libxcrypt libfec googletest)
    for tarball in "$src"/*.orig.tar.*; do
        mkdir -p "$src/${tarball##*/}.d"
        tar -xf "$tarball" -C "$src/${tarball##*/}.d"
    done

    # libfec: its Reed-Solomon codec only, what the tests compare against,
    # with the tables its own generators write (run on this machine).
    fec=$(dirname "$(find "$src"/libfec_* -name fec.h)")
    gcc -o "$src/gen_ccsds" "$fec/gen_ccsds.c" "$fec/init_rs_char_local.c"
    gcc -o "$src/gen_ccsds_tal" "$fec/gen_ccsds_tal.c"
    "$src/gen_ccsds" >"$fec/ccsds_tab.c"
    "$src/gen_ccsds_tal" >"$fec/ccsds_tal.c"
    for f in encode_rs_8 decode_rs_8 encode_rs_ccsds decode_rs_ccsds ccsds_tab ccsds_tal; do
        # shellcheck disable=SC2086  # one flag a word
        powerpc-linux-gnu-gcc $flags -w -I"$fec" -c "$fec/$f.c" -o "$src/fec-$f.o"
    done
    powerpc-linux-gnu-ar rcs "$root/usr/lib/libfec.a" "$src"/fec-*.o
    cp "$fec/fec.h" "$root/usr/include"

    xcrypt=$(dirname "$(find "$src"/libxcrypt_* -name configure.ac)")
    (cd "$xcrypt" && autoreconf -fi >/dev/null 2>&1 &&
        ./configure -q --host=powerpc-linux-gnu --prefix=/usr --libdir=/usr/lib --disable-shared \
            --disable-werror CFLAGS="$flags" >/dev/null &&
        make -s -j "$(nproc)" >/dev/null && make -s install DESTDIR="$root" >/dev/null)

    gtest=$(dirname "$(find "$src"/googletest_* -maxdepth 2 -name CMakeLists.txt | head -n 1)")
    cmake -S "$gtest" -B "$src/gtest" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=powerpc \
        -DCMAKE_C_COMPILER=powerpc-linux-gnu-gcc -DCMAKE_CXX_COMPILER=powerpc-linux-gnu-g++ \
        -DCMAKE_CXX_FLAGS="$flags" -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib >/dev/null
    cmake --build "$src/gtest" -j "$(nproc)" >/dev/null
    DESTDIR="$root" cmake --install "$src/gtest" >/dev/null
    rm -rf "$src"
    touch "$root/.built"
fi

dir=build/ppc32
cmake --no-warn-unused-cli -S . -B $dir -DCMAKE_TOOLCHAIN_FILE=cmake/ppc32.cmake -DCFGPULL_PPC32_ROOT="$root" \
    -DCFGPULL_WERROR=ON -DCFGPULL_TESTS=ON >/dev/null
cmake --build $dir -j "$(nproc)"
# The executables are the board's kind, not the workstation's.
for exe in $dir/bin/*; do
    file "$exe" | grep -q 'ELF 32-bit MSB executable, PowerPC' || { file "$exe" >&2; exit 1; }
done
echo "== ppc32: $(file -b $dir/bin/cfgpull | cut -d, -f1-3)"
sh scripts/ctest.sh $dir
