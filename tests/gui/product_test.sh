#!/usr/bin/env bash
# The product itself under the current X display, on a machine with no MIDI devices: its one main
# window (title, 400 x 200 content, native frame, not resizable), then the connect box, which
# keeps coming back on "Try again" and quits the program on "Exit" with exit code 0.
# usage: product_test.sh PROGRAM [ARGS...]  (the program may be a launcher and its argument,
# such as Wine and a Windows program)
TEST_NAME=${TEST_NAME:-product}
program=("$@")
. "$(dirname "$0")/lib.sh"

main_window_id() { window=$(window_titled "$MAIN_TITLE"); }

start_window_manager
start_program "${program[@]}"
wait_for 60 "a window titled '$MAIN_TITLE'" has_window "$MAIN_TITLE"
# Measured once the connect box is up: Wine may replace a window's X window while it is first
# shown and activated, so an id taken earlier can already be gone.
wait_for 20 "the connect box" has_box
wait_for 10 "the main window's id" main_window_id

# Its size, read again for a while: on a busy machine Wine was seen to list a first X window of
# 128x128 under the title for a moment.
content_size() { xwininfo -id "$window" 2>/dev/null | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}'; }
main_window_sized() { main_window_id && [ "$(content_size)" = 400x200 ]; }
within 20 main_window_sized || fail "content area is $(content_size), expected 400x200"
size=$(content_size)
extents=$(xprop -id "$window" _NET_FRAME_EXTENTS | sed 's/.*= //')
top=$(echo "$extents" | awk -F', ' '{print $3}')
[ -n "$top" ] && [ "$top" -gt 0 ] || fail "no native title bar (frame extents: $extents)"
actions=$(xprop -id "$window" _NET_WM_ALLOWED_ACTIONS)
echo "$actions" | grep -q "_NET_WM_ACTION_CLOSE" || fail "window cannot be closed: $actions"
echo "$actions" | grep -q "_NET_WM_ACTION_RESIZE" && fail "window is resizable: $actions"

# No unit: the connect box. "Try again" (Return) closes it, and it comes back after the 2 s wait.
screenshot "$TEST_NAME-connect-box"
answer_box Return
wait_for 10 "the connect box to close on Try again" no_box
wait_for 20 "the connect box again" has_box
program_ended && fail "the program ended on Try again"

# "Exit" quits at once, without the busy box.
answer_box Escape
expect_exit 0
echo "PASS: '$MAIN_TITLE', $size, frame top $top, connect box, Exit, exit code 0"
cleanup
