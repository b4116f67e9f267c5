#!/usr/bin/env bash
# The demo (the real program on a virtual unit) driven as a person would, under the current X
# display: usage: demo_test.sh DEMO RESOURCE_DIR SCENARIO; demo_test.sh --list names the
# scenarios (the labels of the case below), one per line, for CMake to make a test of each.
# The box texts are written out here on purpose: they are what a person reads, checked against
# the program's own texts (update/Texts.h) from the outside.
if [ "${1:-}" = --list ]; then
    sed -n 's/^\([a-z][a-z| -]*\))$/\1/p' "$0" | tr -d ' ' | tr '|' '\n'
    exit 0
fi
TEST_NAME="demo-$3"
demo=$1
resources=$2
scenario=$3
speed=${ZELVOR_GUI_SPEED:-40}
. "$(dirname "$0")/lib.sh"

start_window_manager
load_layout "$demo"

flash="$WORK/flash.bin"
dsp="$WORK/dsp.bin"
log="$WORK/traffic.log"
run_demo() { start_program "$demo" --speed "$speed" --flash "$flash" --dsp-received "$dsp" --log "$log" "$@"; }

main_window() { window_titled "$MAIN_TITLE"; }
unit_window() { window_titled "Virtual Zelvor"; }
# Clicks a spot of a window until the demo tells the line once more. A click that lands while a
# window is just opening, or on a busy machine, can be lost; a person brings the window forward
# and clicks again.
click_until() # window x y line what
{
    local before
    before=$(count_said "$4")
    for _ in 1 2 3 4 5; do
        xdotool windowraise "$1" 2>/dev/null
        move_box_off "$1" "$2" "$3"
        click_at "$1" "$2" "$3"
        # JUCE opens a box around the pointer: left on these buttons, the next box would cover
        # them.
        xdotool mousemove 5 5
        told_within 3 "$before" "$4" && return 0
    done
    fail "$5 did not take the click for '$4'"
}
# A box that covers the spot to click (JUCE centres it on the active window, which may be the
# Virtual Zelvor window) is dragged out of the way first, as a person would.
move_box_off() # window x y
{
    local box bx by bw bh wx wy
    box=$(box_window) || return 0
    read -r bx by bw bh < <(xwininfo -id "$box" | awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
        /Width:/ {w = $2} /Height:/ {h = $2} END {print x, y, w, h}')
    read -r wx wy < <(xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF} END {print x, y}')
    local px=$((wx + $2)) py=$((wy + $3))
    if [ "$px" -ge "$bx" ] && [ "$px" -lt $((bx + bw)) ] && [ "$py" -ge "$by" ] && [ "$py" -lt $((by + bh)) ]; then
        xdotool windowmove "$box" 0 0
    fi
}
click_update_all()
{
    local w
    w=$(main_window) || fail "no main window"
    click_until "$w" $(centre update-all) "progress: open" "the updater's window"
}
start_update_by_keyboard()
{
    local w end=$((SECONDS + 30)) n
    w=$(main_window) || fail "no main window"
    n=$(count_said "progress: open")
    # The one button takes Tab however often it is pressed.
    until told_within 2 "$n" "progress: open"; do
        [ "$SECONDS" -ge "$end" ] && fail "Tab and Return did not start the update"
        press "$w" Tab Return
    done
}
# Buttons of the Virtual Zelvor window: plug in / unplug, power-cycle, hold / release; waits
# until the demo tells that the unit did it.
click_unit_button() # plug, power or hold, then what the demo tells
{
    local w
    w=$(unit_window) || fail "no Virtual Zelvor window"
    click_until "$w" $(centre "unit-$1") "$2" "the Virtual Zelvor window"
}
# The QEX phase's traffic: the loader's commands (the identity request before a full update only
# asks the unit who it is).
qex_traffic() { grep -q '> F0 06 00 1B' "$log"; }
dsp_traffic_started() { [ "$(grep -c '> F0 00 00 10' "$log")" -gt 20 ]; }

# The flash holds every block of the built-in QEX image.
flash_holds_qex_image()
{
    PYTHONPATH="$(dirname "$0")/.." python3 - "$resources/qexImage.bin" "$flash" <<'PY'
import sys
from qex_image import qex_blocks
image, flash = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()
sys.exit(0 if all(flash[a:a + len(d)] == d for a, d in qex_blocks(image)) else 1)
PY
}

quit_by_key()
{
    local w
    w=$(main_window) || fail "no main window"
    press "$w" ctrl+q
}

wait_for_updater() { wait_for 20 "the updater's window" has_window "$MAIN_TITLE"; wait_for 20 "the Virtual Zelvor window" has_window "Virtual Zelvor"; }

case "$scenario" in
full-update)
    run_demo
    wait_for_updater
    no_box || fail "a box at start with the unit plugged in"
    screenshot "$TEST_NAME-start"
    click_update_all
    wait_for 20 "the progress window (DSP)" has_window "Firmware Updater"
    wait_for 120 "the continue box" said "box: info [] DSP firmware has been updated successfully.\nPlease power cycle your Zelvor hardware and continue. [Continue/Cancel]"
    # As told, the user power-cycles the unit, then continues.
    click_unit_button power "unit: power-cycled"
    answer_box Return
    wait_for 30 "the progress window (QEX)" said_times 2 "progress: open"
    wait_for 180 "the success box" said "box: info [] Firmware has been updated successfully. Please power cycle your Zelvor hardware."
    answer_box Return
    [ "$(count_said "box:")" -eq 2 ] || fail "expected exactly two boxes: $(grep 'box:' "$WORK/out")"
    [ "$(count_said "answer: Ok")" -eq 1 ] || fail "the success box's button does not say Ok: $(grep 'answer:' "$WORK/out")"
    quit_by_key
    expect_exit 0
    cmp -s "$dsp" "$resources/dspImage.syx" || fail "the DSP bytes received differ from the built-in DSP image"
    flash_holds_qex_image || fail "the flash does not hold the built-in QEX image"
    ;;

recover)
    # The unit loses power some 400 blocks into the QEX phase and comes back in its loader; the
    # person answers the failure box, clicks " Update Zelvor" again, power-cycles the unit when
    # asked, and ends with both images on the unit.
    run_demo --fault power-cut-after:4000
    wait_for_updater
    click_update_all
    wait_for 120 "the continue box" said "box: info [] DSP firmware has been updated successfully.\nPlease power cycle your Zelvor hardware and continue. [Continue/Cancel]"
    click_unit_button power "unit: power-cycled"
    answer_box Return
    # ... with why, what to do, and that the loader it is left in loses nothing.
    wait_for 180 "the failure box" said "box: info [] Firmware update has failed. \nPlease power cycle your Zelvor hardware and try again.\nThe Zelvor disappeared from the computer after "
    said "Your Zelvor now starts its loader: nothing is lost, and Update Zelvor brings it back." || fail "the failure box does not say that nothing is lost"
    screenshot "$TEST_NAME-failed"
    answer_box Return
    wait_for 30 "no box" no_box
    click_update_all
    wait_for 180 "the box after the QEX phase" said "box: info [] QEX firmware has been updated successfully.\nPlease power cycle your Zelvor hardware and continue. [Continue/Cancel]"
    screenshot "$TEST_NAME-qex-first"
    click_unit_button power "unit: power-cycled"
    answer_box Return
    wait_for 180 "the success box" said "box: info [] Firmware has been updated successfully. Please power cycle your Zelvor hardware."
    answer_box Return
    quit_by_key
    expect_exit 0
    cmp -s "$dsp" "$resources/dspImage.syx" || fail "the DSP bytes received differ from the built-in DSP image"
    flash_holds_qex_image || fail "the flash does not hold the built-in QEX image"
    ;;

fault)
    # Started from the keyboard alone, as without a mouse: Tab to " Update Zelvor", Return.
    run_demo --fault dsp-end-err
    wait_for_updater
    start_update_by_keyboard
    wait_for 120 "the failure box" has_window "Failed"
    said 'box: info [Failed] Firmware update has failed. \nPlease power cycle your Zelvor hardware and try again.\nThe Zelvor answered the DSP firmware with "ERR". [Copy details]' || fail "wrong failure box"
    # Ctrl+C in the box copies the details for support, and the box stays up to be read.
    box=$(box_window) || fail "the failure box went away"
    press_until 20 "$box" ctrl+c "details copied"
    has_window_id "$box" || fail "the box closed on Copy details"
    details=$(timeout 10 xclip -o -selection clipboard) || fail "nothing on the clipboard"
    [ "$(head -n 1 <<<"$details")" = "$MAIN_TITLE" ] || fail "the details do not start with the versions: $details"
    for item in "System: Linux" "; MIDI: virtual MIDI service" "MIDI ports seen: " '"Sorvanta Zelvor USB MIDI MIDI 1"' \
        "The Zelvor said it was: running its firmware" "Run: full update, DSP phase, 1 of 2 run" \
        'Stopped: the Zelvor answered the DSP firmware with "ERR" (cause 6, step 8,' \
        "after the phase began" "DSP image message, " "DSP end, 18 bytes" "Received last: " "DSP reply ERR, 10 bytes"; do
        grep -qF -- "$item" <<<"$details" || fail "the details lack '$item': $details"
    done
    grep -qE '(F0|f0) [0-9A-Fa-f]{2} ' <<<"$details" && fail "the details hold message bytes: $details"
    answer_box Return
    qex_traffic && fail "a QEX message was sent after the DSP phase failed"
    said "Firmware has been updated successfully" && fail "a success was reported"
    quit_by_key
    expect_exit 0
    ;;

cancel-dsp)
    run_demo
    wait_for_updater
    click_update_all
    wait_for 20 "the progress window" has_window "Firmware Updater"
    wait_for 60 "DSP traffic" dsp_traffic_started
    screenshot "$TEST_NAME-progress"
    press_until 30 "$(window_titled "Firmware Updater")" Escape "progress: cancelled"
    wait_for 30 "the Canceled box" has_window "Canceled"
    said "progress: cancelled" || fail "the run was not cancelled"
    answer_box Return
    qex_traffic && fail "a QEX message was sent after the cancel"
    [ "$(count_said "progress: open")" -eq 1 ] || fail "a second phase started"
    quit_by_key
    expect_exit 0
    ;;

ctrl-c | sigterm | sighup)
    # Interrupted from the terminal, by the system or by a closed terminal during the DSP
    # phase: the run is cancelled, nothing more is sent, the outputs are written and the program
    # ends with the signal's status instead of hanging or dying on the spot.
    signal=${scenario#sig}
    [ "$scenario" = ctrl-c ] && signal=int
    run_demo
    wait_for_updater
    click_update_all
    wait_for 60 "DSP traffic" dsp_traffic_started
    kill -"${signal^^}" "$app_pid"
    expect_exit $((128 + $(kill -l "${signal^^}")))
    said "progress: cancelled" || fail "the run was not cancelled"
    said "successfully" && fail "a success was reported"
    qex_traffic && fail "a QEX message was sent after the signal"
    [ -s "$dsp" ] || fail "the DSP bytes received were not written"
    [ -s "$flash" ] || fail "the flash was not written"
    ;;

closed-pipe)
    # Its output into a pipe whose reader has gone (`ZelvorUpdaterDemo | head -1`, then Ctrl+C):
    # every line it tells fails, the program goes on, and Ctrl+C still cancels the run and ends
    # it with 130, not a death by SIGPIPE (141) at the first line. Driven by its windows and its
    # traffic log alone, since it can tell nothing.
    "$demo" --speed "$speed" --flash "$flash" --dsp-received "$dsp" --log "$log" > >(exec true) 2>&1 &
    app_pid=$!
    wait_for_updater
    for try in 1 2 3; do
        click_at "$(main_window)" $(centre update-all)
        within 20 has_window "Firmware Updater" && break
        program_ended && { wait "$app_pid"; fail "the program ended at its first line, exit code $?"; }
        [ "$try" = 3 ] && fail "the Update Zelvor button did not take three clicks"
    done
    wait_for 60 "DSP traffic" dsp_traffic_started
    program_ended && { wait "$app_pid"; fail "the program ended on a line it told, exit code $?"; }
    kill -INT "$app_pid"
    expect_exit 130
    [ -s "$dsp" ] || fail "the DSP bytes received were not written"
    ;;

keys)
    # Keys that are not a deliberate cancel never cancel: Return in the progress window, and a
    # second Return pressed at the Continue box, which lands on the waits and windows after it.
    # Escape does cancel.
    speed=10
    run_demo
    wait_for_updater
    click_update_all
    wait_for 20 "the progress window (DSP)" has_window "Firmware Updater"
    progress=$(window_titled "Firmware Updater")
    press "$progress" Return
    wait_for 60 "DSP traffic" dsp_traffic_started
    press "$progress" Return
    press "$progress" space
    wait_for 120 "the continue box" said "[Continue/Cancel]"
    said "progress: cancelled" && fail "a key in the progress window cancelled the DSP phase"
    click_unit_button power "unit: power-cycled"
    box=$(box_window) || fail "no continue box"
    press "$box" --delay 250 Return Return
    wait_for 30 "the progress window (QEX)" said_times 2 "progress: open"
    wait_for 30 "QEX traffic" qex_traffic
    said "progress: cancelled" && fail "the second Return cancelled the QEX phase"
    wait_for 10 "the QEX progress window" has_window "Firmware Updater"
    press_until 30 "$(window_titled "Firmware Updater")" Escape "progress: cancelled"
    answer_box Return
    said "successfully. Please power cycle" && fail "a success after the cancel"
    quit_by_key
    expect_exit 0
    ;;

close-mid-update)
    # The window's close button during a transfer asks first; "Keep updating" goes on, "Quit"
    # cancels the run and quits.
    run_demo
    wait_for_updater
    click_update_all
    wait_for 60 "DSP traffic" dsp_traffic_started
    wmctrl -i -c "$(main_window)"
    wait_for 20 "the quit question" said "box: warning [] A firmware update is running. Quitting now cancels it.\nQuit anyway? [Quit/Keep updating]"
    screenshot "$TEST_NAME-question"
    answer_box Escape
    wait_for 10 "the answer" said "answer: Keep updating"
    sent=$(grep -c '> F0 00 00 10' "$log")
    wait_for 30 "the DSP phase to go on" eval '[ "$(grep -c "> F0 00 00 10" "$log")" -gt $((sent + 20)) ]'
    said "progress: cancelled" && fail "Keep updating cancelled the run"
    wmctrl -i -c "$(main_window)"
    wait_for 20 "the quit question again" said_times 2 "A firmware update is running."
    answer_box Return
    expect_exit 0
    said "answer: Quit" || fail "no Quit answer"
    said "progress: cancelled" || fail "the run was not cancelled"
    said "successfully" && fail "a success was reported"
    qex_traffic && fail "a QEX message was sent after the quit"
    ;;

repaint)
    # The windows stay live in the program's fixed waits: after "Try again" at the connect box
    # the window the box covered (the updater's, or the Virtual Zelvor's when that one was
    # active as the box opened) is painted again, not left showing the box for the whole wait
    # until the next box. The wait is stretched to 5 s: on a loaded machine (the USB machines
    # run beside this stage) a repaint can take a second or more to come.
    speed=0.4
    run_demo --unplugged
    wait_for 20 "the updater's window" has_window "$MAIN_TITLE"
    wait_for 20 "the connect box" said "Unable to detect Zelvor."
    wait_for 10 "the box on the screen" has_box
    # Where the window's own content lies on the screen (xdotool's figures may be its frame's).
    geometry() { xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} /Width:/ {w=$NF} /Height:/ {h=$NF} END {printf "X=%d Y=%d WIDTH=%d HEIGHT=%d", x, y, w, h}'; }
    # On a busy machine the window manager may place the box a moment after it appears: its
    # place is read once it has stayed put for a while, and the picture under it taken then.
    box_and_window() { echo "$(geometry "$(box_window)") $(geometry "$(main_window)")"; }
    steady 20 0.4 box_and_window >/dev/null || fail "timed out after 20s waiting for the box to stay put"
    eval "$(geometry "$(box_window)" | sed 's/\([A-Z]*\)=/B\1=/g')"
    # Where the box lies over one of the program's windows, a little inside.
    for covered in "$(main_window)" "$(window_titled "Virtual Zelvor")"; do
        eval "$(geometry "$covered" | sed 's/\([A-Z]*\)=/M\1=/g')"
        left=$(( (BX > MX ? BX : MX) + 5 )); top=$(( (BY > MY ? BY : MY) + 5 ))
        right=$(( (BX + BWIDTH < MX + MWIDTH ? BX + BWIDTH : MX + MWIDTH) - 5 ))
        bottom=$(( (BY + BHEIGHT < MY + MHEIGHT ? BY + BHEIGHT : MY + MHEIGHT) - 5 ))
        [ "$right" -gt $((left + 10)) ] && [ "$bottom" -gt $((top + 10)) ] && break
    done
    [ "$right" -gt $((left + 10)) ] && [ "$bottom" -gt $((top + 10)) ] || fail "the box lies over none of the program's windows: box $BX,$BY ${BWIDTH}x$BHEIGHT"
    under_box() { import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage -depth 8 rgb:- 2>/dev/null | md5sum | cut -d' ' -f1; }
    boxed=$(steady 20 0.4 under_box) || fail "timed out after 20s waiting for the box to be painted"
    answer_box Return
    samples=()
    until said_times 2 "Unable to detect Zelvor." || [ "${#samples[@]}" -ge 100 ]; do
        samples+=("$(under_box)")
        sleep 0.1
    done
    screenshot "$TEST_NAME-wait"
    wait_for 30 "the connect box again" said_times 2 "Unable to detect Zelvor."
    # What the window itself shows there: the next box is moved off it, and the program, in
    # that box's loop, paints the spot again. A window left showing the box (its last picture,
    # buttons pressed or not) never matches it.
    wait_for 10 "the next box on the screen" has_box
    xdotool windowmove "$(box_window)" 0 0
    bare=$(steady 20 0.4 under_box) || fail "timed out after 20s waiting for the window to be painted"
    [ "$bare" != "$boxed" ] || fail "the next box could not be moved off the window"
    printf "%s\n" "${samples[@]}" | grep -qx "$bare" || fail "the window still showed the box during the wait (${#samples[@]} samples; box $BX,$BY ${BWIDTH}x$BHEIGHT, window $MX,$MY ${MWIDTH}x$MHEIGHT)"
    answer_box Escape
    expect_exit 0
    ;;

small-screen)
    # On a 640 x 480 screen the Virtual Zelvor window and the file chooser fit whole.
    run_demo
    wait_for_updater
    fits() # window
    {
        eval "$(xdotool getwindowgeometry --shell "$1" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
        geometry="${WIDTH}x${HEIGHT}+${X}+${Y}"
        [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le 640 ] && [ $((Y + HEIGHT)) -le 480 ]
    }
    fits "$(unit_window)" || fail "the Virtual Zelvor window does not fit the screen: $geometry"
    w=$(main_window)
    press "$w" shift+Prior
    click_at "$w" $(centre open-qex)
    wait_for 20 "the file chooser" said "file chooser:"
    wait_for 20 "the chooser's window" has_box
    chooser=$(box_window)
    screenshot "$TEST_NAME-chooser"
    fits "$chooser" || fail "the file chooser does not fit the screen: $geometry"
    press "$chooser" Escape
    wait_for 10 "the chooser's answer" said "answer: "
    quit_by_key
    expect_exit 0
    ;;

unplugged)
    run_demo --unplugged
    wait_for 20 "the Virtual Zelvor window" has_window "Virtual Zelvor"
    wait_for 20 "the connect box" said "box: warning [] Unable to detect Zelvor.\nPlease connect your Zelvor to the computer. [Try again/Exit]"
    # "Try again" without the unit brings the box back.
    answer_box Return
    wait_for 20 "the connect box again" said_times 2 "Unable to detect Zelvor."
    click_unit_button plug "unit: plugged in"
    answer_box Return
    wait_for 20 "the updater to come up" has_window "$MAIN_TITLE"
    wait_for 10 "the answer" said_times 2 "answer: Try again"
    no_box || fail "a box after the unit was plugged in"
    [ "$(count_said "box:")" -eq 2 ] || fail "expected two boxes: $(grep 'box:' "$WORK/out")"
    quit_by_key
    expect_exit 0
    ;;

second-unit)
    # Two units answer: nothing tells them apart, so the user is asked to leave only one.
    run_demo --second-unit loader
    wait_for 20 "the second unit's window" has_window "Virtual Zelvor 2"
    wait_for 40 "the several-units box" said "box: warning [] More than one Zelvor is connected.\nPlease leave connected only the Zelvor you want to update, and try again. [Try again/Exit]"
    screenshot "$TEST_NAME-several"
    w=$(window_titled "Virtual Zelvor 2") || fail "no second unit's window"
    click_until "$w" $(centre unit-plug) "unit: unplugged" "the second unit's window"
    answer_box Return
    wait_for 20 "the updater to come up" has_window "$MAIN_TITLE"
    no_box || fail "a box after the second unit was unplugged"
    quit_by_key
    expect_exit 0
    ;;

ports-held)
    run_demo --ports-held
    wait_for 20 "the Virtual Zelvor window" has_window "Virtual Zelvor"
    wait_for 20 "the busy box" said "box: warning [] Zelvor is being used by another program. Please close that program and continue. [Try again/Exit]"
    screenshot "$TEST_NAME-busy"
    click_unit_button hold "unit: ports released"
    answer_box Return
    wait_for 10 "the answer" said "answer: Try again"
    no_box || fail "a box after the ports were released"
    quit_by_key
    expect_exit 0
    ;;

exit-at-start)
    run_demo --unplugged
    wait_for 20 "the connect box" said "Unable to detect Zelvor."
    answer_box Escape
    expect_exit 0
    said "Zelvor is being used by another program" && fail "the busy box followed Exit"
    said "quit requested" || fail "no quit"
    ;;

views)
    run_demo
    wait_for_updater
    w=$(main_window)
    # What two places show: the left half of the QEX pair (file view only), and the strip of
    # " Update Zelvor" below the QEX pair (normal view only).
    read -r px py pw ph <<<"${LAYOUT[open-qex]}"
    read -r sx sy sw sh <<<"${LAYOUT[update-all]}"
    pair() { region_hash "$w" $((px + 2)) $((py + 2)) $((pw - 4)) $((ph - 4)); }
    strip() { region_hash "$w" $((sx + 10)) $((sy + sh - 8)) $((sw - 20)) 6; }
    normal_pair=$(pair)
    normal_strip=$(strip)
    changed() { [ "$(pair)" != "$normal_pair" ] && [ "$(strip)" != "$normal_strip" ]; }
    restored() { [ "$(pair)" = "$normal_pair" ] && [ "$(strip)" = "$normal_strip" ]; }
    press "$w" Prior
    restored || fail "Page Up without Shift changed the view"
    press "$w" shift+Prior
    wait_for 10 "the file view" changed
    screenshot "$TEST_NAME-file-view"
    file_pair=$(pair)
    press "$w" shift+Prior
    [ "$(pair)" = "$file_pair" ] || fail "a second Shift + Page Up changed the file view"
    press "$w" shift+Next
    wait_for 10 "the normal view" restored
    quit_by_key
    expect_exit 0
    ;;

close-button)
    run_demo
    wait_for_updater
    wmctrl -i -c "$(main_window)"
    expect_exit 0
    ;;

*)
    fail "unknown scenario $scenario"
    ;;
esac

echo "PASS: $TEST_NAME"
cleanup
