#!/bin/sh
# The product folders form layers: each may include only itself and the
# folders before it here, so no include circle can form between folders.
# Usage: sh tests/layers_check.sh SOURCE_DIR
cd "$1" || exit 2
order="platform store board bootenv settings writers tools cli"
status=0
below=""
for folder in $order; do
    for used in $(grep -rhoE '#include "[a-z]+/' "$folder" | sed 's/#include "//; s/\///' | sort -u); do
        case " $below $folder " in
        *" $used "*) ;;
        *) echo "$folder/ includes $used/, which is not below it"; status=1 ;;
        esac
    done
    below="$below $folder"
done
exit $status
