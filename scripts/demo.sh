#!/bin/sh
# Sets up, builds every program, and shows cfgpull's main job on a blank
# simulated module: an erased /dev/env is replaced by factory defaults and
# every file of -a is written. Then one codeword is damaged and cfgpull
# corrects it.
set -e
cd "$(dirname "$0")/.."
stage() { printf '\n== %s\n' "$*"; }

stage "Installing the packages the demo needs (scripts/setup.sh demo)"
sh scripts/setup.sh demo
stage "Building cfgpull, cfgpush, cfgimage and blank_module into build/sim/bin"
cmake -S . -B build/sim >/dev/null
cmake --build build/sim -j "$(nproc)" --target cfgpull cfgpush cfgimage blank_module >/dev/null
BIN=$PWD/build/sim/bin

ROOT=$PWD/build/demo-module
stage "A blank module in $ROOT: erased /dev/env, EEPROMs, board type 3, default boot loader environment"
rm -rf "$ROOT"
"$BIN/blank_module" "$ROOT"
export CFGPULL_SIM_ROOT="$ROOT"

show() {
    echo "--- $1"
    if [ ! -e "$ROOT$1" ]; then
        echo "(missing)"
    elif [ "$1" = /etc/bladesig ]; then
        od -A d -t x1 "$ROOT$1"  # raw bytes
    else
        cat "$ROOT$1"
    fi
}

stage "cfgpull -a: the erased device is replaced by factory defaults, then every file of -a is written"
status=0; "$BIN/cfgpull" -a || status=$?
echo "exit status $status"
show /sim/syslog
echo "(sim/calls.log records what the module would do; nothing of it happens here:"
echo " 'enc_reboot 10' would reboot the module and 'sleep 120' wait two minutes)"
show /sim/calls.log
for f in /etc/wrenconf /etc/netconf /etc/snmp/snmpd.conf /etc/passwd /etc/group /etc/bladesig \
         /etc/urb.conf /etc/firmwaremgmt.conf /etc/KAT.info; do
    show $f
done

stage "Three bytes of codeword 7 go bad on the device"
cp "$ROOT/dev/env" "$ROOT/dev/env.before"
printf '\125\252\063' | dd of="$ROOT/dev/env" bs=1 seek=$((255 * 7 + 40)) conv=notrunc 2>/dev/null
echo "bytes differing from the stored image: $(cmp -l "$ROOT/dev/env.before" "$ROOT/dev/env" | wc -l)"
stage "cfgpull -e corrects them and writes the device back"
status=0; "$BIN/cfgpull" -e || status=$?
echo "exit status $status"
echo "bytes differing after the run: $(cmp -l "$ROOT/dev/env.before" "$ROOT/dev/env" | wc -l)"

stage "Done"
echo "The programs are in $BIN: cfgpull, cfgpush (a stand-in for the module's) and cfgimage."
echo "The module is in $ROOT; to run them against it:"
echo "    export PATH=\"$BIN:\$PATH\" CFGPULL_SIM_ROOT=$ROOT"
echo "    cfgpull -a; cfgimage check; cfgimage help"
