#!/bin/sh
# Builds the board flavour with the board's compiler (32-bit big-endian
# PowerPC), warnings as errors, against a stand-in for the board's sysroot,
# and packages it. Prints the libraries the executable needs, the size of the
# stripped cfgpull and the .deb's contents.
#
# The stand-in sysroot holds stub shared libraries with the board's sonames
# and the symbols the board provides (the management library's from
# platform/platform.h), and the host's crypt header, which is the
# same on every architecture. A real build passes the board's own sysroot.
set -e
cd "$(dirname "$0")/.."
sysroot=$PWD/build/powerpc-sysroot
rm -rf "$sysroot"
mkdir -p "$sysroot/usr/include" "$sysroot/usr/lib"
cp /usr/include/crypt.h "$sysroot/usr/include"

# stub SONAME SYMBOL...: one library whose functions do nothing, linked as
# lib<name>.so by the build.
stub() {
    soname=$1
    shift
    for symbol in "$@"; do echo "void $symbol(void) {}"; done |
        powerpc-linux-gnu-gcc -shared -nostdlib -Wl,-soname,"$soname" -x c - -o "$sysroot/usr/lib/$soname"
    [ "$soname" = "${soname%%.so*}.so" ] || ln -sf "$soname" "$sysroot/usr/lib/${soname%%.so*}.so"
}
mgmt=$(sed -n '/^extern "C" {/,/^}$/s/^[a-z].*[ *]\([A-Za-z_][A-Za-z0-9_]*\)(.*/\1/p' platform/platform.h |
    grep -v '^FIPSCHECK_')
stub libcrypt.so.1 crypt
stub libfipscheck.so.1 FIPSCHECK_fips_mode_configured
# shellcheck disable=SC2086  # one symbol a word
stub libmgmt.so $mgmt
stub libmgmtsoap.so  # linked as the board's build does; cfgpull calls none of it

dir=build/powerpc
cmake --no-warn-unused-cli -S . -B $dir -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc.cmake -DCMAKE_SYSROOT="$sysroot" \
    -DCFGPULL_WERROR=ON -DCFGPULL_PLATFORM=target -DCFGPULL_TESTS=OFF
cmake --build $dir -j "$(nproc)"

needed=$(powerpc-linux-gnu-readelf -d $dir/bin/cfgpull | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
echo "== powerpc: cfgpull needs $needed"
for lib in libcrypt.so.1 libmgmt.so libfipscheck.so.1; do
    case " $needed" in *" $lib "*) ;; *) echo "cfgpull does not name $lib" >&2; exit 1 ;; esac
done
powerpc-linux-gnu-strip -o $dir/cfgpull.stripped $dir/bin/cfgpull
loaded=$(powerpc-linux-gnu-size $dir/cfgpull.stripped | awk 'NR == 2 { print $1 + $2 }')
echo "== powerpc: stripped cfgpull is $(wc -c < $dir/cfgpull.stripped) bytes, $loaded of them code and data"

(cd $dir && cpack -B packages >/dev/null)
deb=$(ls $dir/packages/cfgpull_*_powerpc.deb)
ls $dir/packages/*.tar.gz >/dev/null
echo "== powerpc: $deb"
dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | tee $dir/deb.contents
[ "$(dpkg-deb -f "$deb" Architecture)" = powerpc ]
for f in ./usr/sbin/cfgpull ./usr/bin/cfgimage ./usr/share/man/man8/cfgpull.8 ./usr/share/man/man1/cfgimage.1 \
         ./usr/share/bash-completion/completions/cfgimage; do
    grep -qx "$f" $dir/deb.contents || { echo "$deb lacks $f" >&2; exit 1; }
done
if grep -q cfgpush $dir/deb.contents; then echo "$deb holds cfgpush" >&2; exit 1; fi
