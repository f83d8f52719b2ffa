#!/bin/bash
# The bash completion offers what cfgimage itself names: its commands, a
# command's options, field names after a get or set image.
# Usage: completion_check.sh COMPLETION CFGIMAGE
. "$1"
status=0
while IFS='|' read -r line offered; do
    COMP_LINE=$line COMP_POINT=${#line} COMPREPLY=()
    _cfgimage "$2" "${line##* }" 2>/dev/null
    [ "${COMPREPLY[*]}" = "$offered" ] || { echo "'$line': offered '${COMPREPLY[*]}', not '$offered'"; status=1; }
done <<'LINES'
cfgimage set IMAGE rack|rackName=
cfgimage ex|export
cfgimage diff --j|--json
cfgimage get --fips IMAGE userIdFips[2|userIdFips[2] userIdFips[20]
cfgimage set --force rack|
LINES
exit $status
