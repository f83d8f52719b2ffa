#!/bin/sh
# Keeps the manual pages current: they render without warnings, and each names
# every option and command that its program's usage text names.
# Usage: man_check.sh MANDOC MANDIR CFGPULL CFGIMAGE
set -u
mandoc=$1 dir=$2 cfgpull=$3 cfgimage=$4
status=0
"$mandoc" -T lint -W warning "$dir/cfgpull.8" "$dir/cfgimage.1" || status=1

# names PAGE PROGRAM USAGE: each -x or --word of USAGE, and each PROGRAM
# COMMAND line, must appear in the rendered PAGE.
names() {
    text=$("$mandoc" -T ascii "$1" | sed 's/.\x08//g')
    words=$(printf '%s\n' "$3" | grep -oE '(^|[[:space:][])--?[A-Za-z][A-Za-z-]*' | sed 's/^[[:space:][]//')
    commands=$(printf '%s\n' "$3" | sed -n "s/^\(usage:\)\{0,1\}[[:space:]]*$2 \([a-z][a-z-]*\).*/$2 \2/p")
    for word in $words; do
        printf '%s\n' "$text" | grep -qE -- "(^|[^A-Za-z-])$word([^A-Za-z-]|\$)" ||
            { echo "$1: no $word"; status=1; }
    done
    printf '%s\n' "$commands" | while read -r line; do
        [ -z "$line" ] || printf '%s\n' "$text" | grep -qF -- "$line" || { echo "$1: no '$line'"; exit 1; }
    done || status=1
}
names "$dir/cfgpull.8" cfgpull "$("$cfgpull" 2>&1)"
names "$dir/cfgimage.1" cfgimage "$("$cfgimage" --help 2>&1)"
exit $status
