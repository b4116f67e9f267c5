#!/usr/bin/env bash
# Runs one Windows test and then ends the Wine session it started. Wine's own processes
# (wineserver, services, the desktop) outlive the program and would hold CTest's output pipe
# open until its time-out, so the test writes to a file that is shown once Wine has gone.
# usage: in_wine.sh COMMAND [ARGS...]   (WINEPREFIX and ZELVOR_WINE set)
wineserver=$(dirname "$ZELVOR_WINE")/wineserver
output=$(mktemp)
"$wineserver" -k 2>/dev/null # whatever an earlier test may have left
"$@" >"$output" 2>&1 </dev/null
code=$?
"$wineserver" -k 2>/dev/null
"$wineserver" -w 2>/dev/null
cat "$output"
rm -f "$output"
exit "$code"
