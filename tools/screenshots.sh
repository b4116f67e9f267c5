#!/usr/bin/env bash
# Makes the README's pictures from the demo under a private Xvfb: the main window, the progress
# window during an update (with the time left, at the default pace), the continue box, the Virtual
# Zelvor window, and the box of an update that failed (the unit refusing the DSP image).
# usage: tools/screenshots.sh [BUILD_DIR [OUT_DIR]] (by default writes docs/pictures/*.png);
# ZELVOR_SCREENSHOT_SPEED: the demo's pace (5; the pictures' windows are the same at any pace)
set -u
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-docs/pictures}")
speed=${ZELVOR_SCREENSHOT_SPEED:-5}
if [ -z "${ZELVOR_SCREENSHOTS_INNER:-}" ]; then
    ZELVOR_SCREENSHOTS_INNER=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$build" "$out"
fi
TEST_NAME=screenshots
ZELVOR_BUILD_DIR=$build . tests/gui/lib.sh
mkdir -p "$out"
demo=$(demo_in "$build")
# A window is shot once the window manager has framed it and its size has held for a moment: shot
# as it first appears, it may still lack its frame.
framed_size() { xprop -id "$1" _NET_FRAME_EXTENTS | grep '=' && xwininfo -id "$1" | awk '/Width:|Height:/ {print $2}'; }
shoot()
{
    steady 10 0.3 framed_size "$1" >/dev/null || fail "the window for $2 was never framed and still"
    import -frame -window "$1" "$out/$2.png" && echo "$out/$2.png"
}

start_window_manager
load_layout "$demo"
start_program "$demo" --speed "$speed"
wait_for 20 "the updater" has_window "$MAIN_TITLE"
wait_for 20 "the Virtual Zelvor window" has_window "Virtual Zelvor"
main=$(window_titled "$MAIN_TITLE")
shoot "$main" main-window
click_at "$main" $(centre update-all)
wait_for 30 "the progress window" has_window "Firmware Updater"
wait_for 60 "some progress" said "progress: open"
# Some way into the DSP phase: 75 s of the unit's time, or until the window closes.
within $((75 / speed)) no_window "Firmware Updater"
shoot "$(window_titled "Firmware Updater")" progress-window
shoot "$(window_titled "Virtual Zelvor")" virtual-zelvor
wait_for 180 "the continue box" said "DSP firmware has been updated successfully."
wait_for 10 "the box" has_box
shoot "$(box_window)" continue-box
kill "$app_pid" 2>/dev/null
wait "$app_pid" 2>/dev/null

start_program "$demo" --speed 20 --fault dsp-end-err
wait_for 20 "the updater" has_window "$MAIN_TITLE"
click_at "$(window_titled "$MAIN_TITLE")" $(centre update-all)
wait_for 120 "the failure box" has_window "Failed"
shoot "$(window_titled "Failed")" failure-box
cleanup
