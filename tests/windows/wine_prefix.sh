#!/usr/bin/env bash
# Makes the Wine prefix the Windows tests share, anew each run, and waits until Wine has written
# it out. Run through in_wine.sh, which ends any Wine session left in it first.
set -eu
prefix=$1
export WINEPREFIX=$prefix
rm -rf "$prefix"
mkdir -p "$prefix"
"$ZELVOR_WINE" wineboot --init
"$(dirname "$ZELVOR_WINE")/wineserver" --wait
[ -f "$prefix/system.reg" ] || { echo "no Wine prefix was made at $prefix"; exit 1; }
echo "Wine prefix ready: $prefix"
