#!/bin/sh
# Regenerates library/mac_vendors.txt (one "XXXXXX<TAB>vendor" line per
# 24-bit Ethernet address prefix, vendor cut to 40 characters, sorted) from
# the IEEE registration list that Debian's ieee-data package installs.
# The generated file is committed, so no build needs the package.
set -e
src=${1:-/usr/share/ieee-data/oui.txt}
out=${2:-$(dirname "$0")/../library/mac_vendors.txt}
if [ ! -r "$src" ]; then
    echo "cannot read $src (apt-get install ieee-data)" >&2
    exit 1
fi
LC_ALL=C awk '
    /\(hex\)/ {
        id = $1; gsub("-", "", id)
        if (length(id) != 6) next
        name = $0; sub(/^[^)]*\)[ \t]*/, "", name)
        gsub(/[\r\t]/, " ", name); sub(/[ ]+$/, "", name)
        if (name == "") next
        printf "%s\t%s\n", toupper(id), substr(name, 1, 40)
    }' "$src" | LC_ALL=C sort -s -k1,1 -u > "$out"
echo "$(wc -l < "$out") prefixes written to $out"
