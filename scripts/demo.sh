#!/bin/sh
# Sets up, builds, and shows cfgpull's main job on a blank simulated module:
# an erased /dev/env is replaced by factory defaults and every file of -a is
# written. Then one codeword is damaged and cfgpull corrects it.
set -e
cd "$(dirname "$0")/.."
sh scripts/setup.sh
cmake -S . -B build/sim >/dev/null
cmake --build build/sim -j "$(nproc)" --target cfgpull cfgpush >/dev/null
BIN=$PWD/build/sim/bin

ROOT=$PWD/build/demo-module
rm -rf "$ROOT"
python3 scripts/blank_module.py "$ROOT"
install -m 755 "$BIN/cfgpush" "$ROOT/usr/sbin/cfgpush"
export CFGPULL_SIM_ROOT="$ROOT"

show() { echo "--- $1"; cat "$ROOT$1" 2>/dev/null || echo "(missing)"; }

echo "== A blank module: erased /dev/env, EEPROMs, board type 3, default boot loader environment"
echo "\$ cfgpull -a"
status=0; "$BIN/cfgpull" -a || status=$?
echo "exit status $status"
show /sim/syslog
show /sim/calls.log
show /ramdisk/ubootmsg.log
for f in /etc/wrenconf /etc/netconf /etc/snmp/snmpd.conf /etc/passwd /etc/group /etc/bladesig \
         /etc/urb.conf /etc/firmwaremgmt.conf /etc/KAT.info; do
    show $f
done

echo
echo "== Three bytes of codeword 7 go bad on the device"
cp "$ROOT/dev/env" "$ROOT/dev/env.before"
printf '\125\252\063' | dd of="$ROOT/dev/env" bs=1 seek=$((255 * 7 + 40)) conv=notrunc 2>/dev/null
echo "bytes differing from the stored image: $(cmp -l "$ROOT/dev/env.before" "$ROOT/dev/env" | wc -l)"
echo "\$ cfgpull -e"
"$BIN/cfgpull" -e
echo "exit status $?"
echo "bytes differing after the run: $(cmp -l "$ROOT/dev/env.before" "$ROOT/dev/env" | wc -l)"
echo
echo "The module is in $ROOT (CFGPULL_SIM_ROOT=$ROOT)."
