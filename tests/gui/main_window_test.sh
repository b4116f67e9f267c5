#!/usr/bin/env bash
# Opens the real program under the current X display with openbox as window manager, checks its
# one top-level window (title, 400 x 200 content, native frame, not resizable), then sends the
# window manager's close request and expects a clean exit with code 0.
# With "ctrl-q" as second argument the program is quit with its key instead.
# Set ZELVOR_SCREENSHOT=file.png to keep a screenshot of the screen.
set -u
program="$1"
how_to_quit="${2:-close}"
fail() { echo "FAIL: $*"; [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null; [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null; exit 1; }

[ -n "${DISPLAY:-}" ] || fail "no X display (run under xvfb-run)"
for tool in openbox wmctrl xdotool xwininfo xprop; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done

expected_title="Zelvor Updater v1.3.6 - DSP v1.70 - QEX v1.20"

openbox >/dev/null 2>&1 &
wm_pid=$!
for _ in $(seq 50); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done
wmctrl -m >/dev/null 2>&1 || fail "window manager did not start"

"$program" >/dev/null 2>&1 &
app_pid=$!

window=""
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null | head -n 1)
    [ -n "$window" ] && [ "$(xdotool getwindowname "$window" 2>/dev/null)" = "$expected_title" ] && break
    window=""
    sleep 0.1
done
[ -n "$window" ] || fail "no visible window titled '$expected_title'"

# Exactly one top-level window of the program in the window manager's list.
count=$(wmctrl -lp | awk -v pid="$app_pid" '$3 == pid' | wc -l)
[ "$count" -eq 1 ] || fail "expected one top-level window, found $count"

sleep 0.5
geometry=$(xwininfo -id "$window")
width=$(echo "$geometry" | awk '/Width:/ {print $2}')
height=$(echo "$geometry" | awk '/Height:/ {print $2}')
[ "$width" = 400 ] && [ "$height" = 200 ] || fail "content area is ${width}x${height}, expected 400x200"

# The native title bar comes from the window manager's frame.
extents=$(xprop -id "$window" _NET_FRAME_EXTENTS | sed 's/.*= //')
top=$(echo "$extents" | awk -F', ' '{print $3}')
[ -n "$top" ] && [ "$top" -gt 0 ] || fail "no native title bar (frame extents: $extents)"

# Not resizable, and closable: the window manager offers no resize action for it.
actions=$(xprop -id "$window" _NET_WM_ALLOWED_ACTIONS)
echo "$actions" | grep -q "_NET_WM_ACTION_CLOSE" || fail "window cannot be closed: $actions"
echo "$actions" | grep -q "_NET_WM_ACTION_RESIZE" && fail "window is resizable: $actions"

if [ -n "${ZELVOR_SCREENSHOT:-}" ] && command -v import >/dev/null; then
    import -window root "$ZELVOR_SCREENSHOT"
fi

if [ "$how_to_quit" = ctrl-q ]; then
    xdotool windowactivate --sync "$window" >/dev/null 2>&1
    xdotool key --window "$window" ctrl+q 2>/dev/null
else
    wmctrl -i -c "$window"
fi
for _ in $(seq 100); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$app_pid" 2>/dev/null && fail "program still running after the close request"
wait "$app_pid"
code=$?
kill "$wm_pid" 2>/dev/null
[ "$code" -eq 0 ] || fail "exit code $code"
echo "PASS: '$expected_title', ${width}x${height}, frame top $top, quit by $how_to_quit, exit code 0"
