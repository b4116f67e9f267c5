#!/usr/bin/env bash
# Both programs, started with no display and with one that cannot be opened: one clear line on
# stderr and exit code 1, never a crash. usage: no_display_test.sh PRODUCT DEMO
set -u
status=0
out=$(mktemp)
for program in "$1" "$2"; do
    for display in unset ":97"; do
        if [ "$display" = unset ]; then
            env -u DISPLAY timeout 20 "$program" >/dev/null 2>"$out"
        else
            DISPLAY=$display timeout 20 "$program" >/dev/null 2>"$out"
        fi
        code=$?
        if [ "$code" -ne 1 ] || ! grep -qx "cannot open a display" "$out"; then
            echo "FAIL: $(basename "$program") with DISPLAY $display: exit $code, stderr: $(head -c 300 "$out")"
            status=1
        fi
    done
done
rm -f "$out"
[ "$status" -eq 0 ] && echo "PASS: no-display"
exit "$status"
