#!/bin/bash
# Runs inside the USB machine: the shipped updater, unchanged and with no options, updates the
# virtual unit on USB at the unit's real pace, driven as a person would under Xvfb.
# usage: product_job.sh BUILD_DIR PRODUCT OUT_DIR TESTS_DIR SCENARIO
# SCENARIO: full-update, or held (another program has the unit's raw MIDI device open at start).
set -u
build=$1 product=$2 out=$3 tests=$4 scenario=$5
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi
TEST_NAME=usb-product
export ZELVOR_GUI_ARTEFACTS=$out
. "$tests/gui/lib.sh"
. "$tests/usb/unit.sh"

start_usb_unit "$build" "$out" || fail "the USB unit did not come up: $(cat "$out/unit.out")"

box_height() { xwininfo -id "$1" | awk '/Height:/ {print $2}'; }

start_window_manager
if [ "$scenario" = held ]; then
    hold_unit_device
    start_program "$product"
    # Held, the unit is there but cannot be used: the box that asks to free it, until it is.
    wait_for 120 "the busy box" has_box
    screenshot "$TEST_NAME-busy"
    answer_box Return
    wait_for 30 "the busy box again" has_box
    kill "$holder"
    wait "$holder" 2>/dev/null
    answer_box Return
    wait_for 60 "the updater's window" has_window "$MAIN_TITLE"
    wait_for 30 "the box to close" no_box
    [ -s "$out/unit.log" ] && fail "messages reached the unit: $(head -n3 "$out/unit.log")"
    press "$(window_titled "$MAIN_TITLE")" ctrl+q
    expect_exit 0
    kill -INT "$unit"
    wait "$unit"
    echo "PASS ($TEST_NAME-held)"
    cleanup
    exit 0
fi
start_program "$product"
wait_for 120 "the updater's window" has_window "$MAIN_TITLE"
no_box || fail "a box at start with the unit plugged in"
screenshot "$TEST_NAME-start"
click_at "$(window_titled "$MAIN_TITLE")" 200 115
wait_for 60 "the progress window (DSP)" has_window "Firmware Updater"
screenshot "$TEST_NAME-dsp"
# The DSP phase takes about two minutes at the unit's pace.
wait_for 600 "the continue box" has_box
continue_box=$(box_window)
continue_height=$(box_height "$continue_box")
screenshot "$TEST_NAME-continue"
# As told, the user power-cycles the unit, then continues.
kill -USR1 "$unit"
answer_box Return
wait_for 120 "the progress window (QEX)" has_window "Firmware Updater"
wait_for 600 "the last box" has_box
screenshot "$TEST_NAME-last-box"
# The box shows what it says only as pixels. The success text wraps to two lines; the failure
# text, like the continue box's, wraps to three.
[ "$(box_height "$(box_window)")" -lt "$continue_height" ] || fail "the last box is not the one-line success box"
answer_box Return
press "$(window_titled "$MAIN_TITLE")" ctrl+q
expect_exit 0
kill -INT "$unit"
wait "$unit"
echo "unit: exit $?"
cat "$out/unit.out"
echo "PASS ($TEST_NAME)"
cleanup
