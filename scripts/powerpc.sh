#!/bin/sh
# Compiles the board flavour with the board's compiler (32-bit big-endian
# PowerPC), warnings as errors, and prints the size of the stripped cfgpull.
# zlib's and libcrypt's headers are the same on every architecture, so the
# host's serve; the libraries are empty stubs carrying the board's sonames.
set -e
cd "$(dirname "$0")/.."
stubs=$PWD/build/powerpc-stubs
mkdir -p "$stubs/usr/include" "$stubs/usr/lib"
cp /usr/include/zlib.h /usr/include/zconf.h /usr/include/crypt.h "$stubs/usr/include"
for lib in z.so.1 crypt.so.1; do
    powerpc-linux-gnu-gcc -shared -nostdlib -Wl,-soname,lib$lib -x c /dev/null \
        -o "$stubs/usr/lib/lib${lib%.1}"
done
dir=build/powerpc
cmake --no-warn-unused-cli -S . -B $dir -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc.cmake -DCFGPULL_POWERPC_STUBS="$stubs" -DCFGPULL_WERROR=ON \
    -DCFGPULL_PLATFORM=target -DCFGPULL_TESTS=OFF >/dev/null
cmake --build $dir -j "$(nproc)"
powerpc-linux-gnu-strip -o $dir/cfgpull.stripped $dir/bin/cfgpull
loaded=$(powerpc-linux-gnu-size $dir/cfgpull.stripped | awk 'NR == 2 { print $1 + $2 }')
echo "== powerpc: stripped cfgpull is $(wc -c < $dir/cfgpull.stripped) bytes, $loaded of them code and data"
