#!/usr/bin/env bash
# The program's main window under the current X display has the window class (WM_CLASS) that
# the desktop entry names in StartupWMClass, by which docks and task bars tie the window to its
# launcher. The run ends on SIGTERM, with exit code 128 + 15 as the man page tells.
# usage: window_class_test.sh PROGRAM CLASS  (ZELVOR_BUILD_DIR: the build with window-title.txt)
TEST_NAME=${TEST_NAME:-window-class}
program=$1
expected=$2
. "$(dirname "$0")/../gui/lib.sh"

main_window_id() { window=$(window_titled "$MAIN_TITLE"); }

start_window_manager
start_program "$program"
wait_for 60 "a window titled '$MAIN_TITLE'" has_window "$MAIN_TITLE"
wait_for 10 "the main window's id" main_window_id
# WM_CLASS(STRING) = "instance", "class"
class=$(xprop -id "$window" WM_CLASS | sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\([^"]*\)"$/\1/p')
if [ -z "$class" ] || [ "$class" != "$expected" ]; then
    fail "the window's class is '$class', the desktop entry's StartupWMClass '$expected'"
fi
kill -TERM "$app_pid"
expect_exit $((128 + 15))
echo "PASS: window class '$class', ended by SIGTERM with exit code $((128 + 15))"
cleanup
