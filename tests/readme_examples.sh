#!/bin/sh
# Runs the README's workstation examples (its ```sh blocks) in order, as one
# script, in a scratch folder laid out like this repository after the demo.
# usage: readme_examples.sh SOURCE_DIR BIN_DIR
set -e
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/build/sim"
ln -s "$2" "$work/build/sim/bin"
ln -s "$src/scripts" "$work/scripts"
awk '/^```sh$/ { on = 1; next } /^```$/ { on = 0 } on' "$src/README.md" >"$work/examples.sh"
grep -q cfgpull "$work/examples.sh"
cd "$work"
TMPDIR="$work" sh -ex examples.sh
