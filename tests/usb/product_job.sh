#!/bin/bash
# Runs inside the USB machine: the updater updates the virtual unit on USB, driven as a person
# would under Xvfb: the shipped updater, unchanged and with no options, at the unit's real pace
# (SPEED 1), or the same application as the demo on the system's MIDI ports at SPEED.
# usage: product_job.sh BUILD_DIR OUT_DIR TESTS_DIR SCENARIO SPEED PROGRAM [ARGS...]
# SCENARIO: full-update; held (another program has the unit's raw MIDI device open at start);
# unplug-dsp or unplug-qex (the unit is pulled out during that phase and plugged in again).
# PROGRAM ARGS: the updater, or a launcher and its argument (Wine and the Windows updater).
set -u
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi
build=$1 out=$2 tests=$3 scenario=$4 speed=$5
shift 5
product=("$@")
under_wine=0
case " ${product[*]} " in *wine*) under_wine=1 ;; esac
# Under Wine the Windows build's headless driver also runs here, beside the updater.
windows_driver=""
[ "$under_wine" = 1 ] && windows_driver=$(dirname "${product[-1]}")/../../driver/zelvor-virtual-run.exe
# Wine loads a Windows program wrongly from the machine's 9p root (its data reads as zeros and it
# crashes before main), so a .exe runs from a copy in the machine's own tmpfs.
for i in "${!product[@]}"; do
    case ${product[$i]} in
        *.exe) cp "${product[$i]}" /tmp/ && product[i]=/tmp/$(basename "${product[$i]}") ;;
    esac
done
TEST_NAME=usb-product
# The demo tells each box it shows on stdout; the shipped updater shows them only as pixels.
tells_boxes=0
[ "$(basename "${product[0]}")" = ZelvorUpdaterDemo ] && tells_boxes=1
export ZELVOR_GUI_ARTEFACTS=$out
ZELVOR_BUILD_DIR=$build . "$tests/gui/lib.sh"
. "$tests/usb/unit.sh"

# However the job ends, the unit stops and writes its flash, DSP bytes and log.
stop_unit() { [ -n "${unit:-}" ] && kill -0 "$unit" 2>/dev/null && kill -INT "$unit" && wait "$unit"; }
trap stop_unit EXIT
start_usb_unit "$build" "$out" --speed "$speed" || fail "the USB unit did not come up: $(cat "$out/unit.out")"

# A box's height once it has kept it for a second: on a loaded machine a box is seen before it has
# been sized to its text.
window_height() { xwininfo -id "$1" | awk '/Height:/ {print $2}'; }
box_height() { steady 30 1 window_height "$1" || echo 0; }

# A program that ignored every Ctrl+Q (seen now and then under Wine, cause not found yet): which
# window has the focus, and where each of its threads is.
describe_stuck_program()
{
    echo "active window: $(xdotool getactivewindow getwindowname 2>&1)"
    local p
    for p in $(pgrep -f 'ZelvorUpdater'); do
        echo "--- threads of $(tr '\0' ' ' </proc/"$p"/cmdline)"
        timeout 60 gdb -p "$p" -batch -ex "thread apply all bt 25" 2>&1 | grep -v '^\[New LWP' | head -300
    done
}

# Ctrl+Q as a person presses it: again when the program is still there after a few seconds (it
# drops keys during its fixed waits, such as the 2 s after the last box). Patient: under Wine in
# a machine that shares the processor with others a key can take a minute to be taken.
quit_by_keys()
{
    local end=$((SECONDS + 180)) w
    until program_ended; do
        if [ "$SECONDS" -ge "$end" ]; then
            describe_stuck_program
            fail "Ctrl+Q did not quit the program within 180 s"
        fi
        w=$(window_titled "$MAIN_TITLE") && press "$w" ctrl+q
        within 3 program_ended
    done
    wait "$app_pid"
    local code=$?
    app_pid=""
    # Under Wine 8 any program that has listed MIDI devices through its ALSA driver dies of
    # SIGSEGV as its process ends, after main has returned (a 20-line WinMM program does too):
    # counted as a quit, and said.
    if [ "$code" -eq 139 ] && [ "$under_wine" = 1 ]; then
        echo "quit: exit code 139, Wine's ALSA MIDI driver faulting at process end"
    elif [ "$code" -ne 0 ]; then
        fail "exit code $code, expected 0"
    fi
}

# Under Wine, after the updater: the Windows driver writes a DSP file whose messages run from
# 161 to 256 bytes to a fresh unit, through the Windows MIDI path and Wine's ALSA driver (a real
# Windows driver takes a long buffer in pieces; under Wine the link sends each message whole).
# The unit must receive the file's bytes exactly.
long_dsp_messages_run()
{
    local sub=$out/long-dsp-messages
    mkdir -p "$sub"
    # Wine reads files on the machine's 9p root as zeros: the file and the driver go to its tmpfs.
    python3 -c '
import sys
out = bytearray()
for size in range(161, 257):
    out += bytes([0xF0, 0x00, 0x00, 0x10, 0x00, 0x3F, 0x00, 0x59, 0x7F, 0x58]) + bytes([size & 0x7F]) * (size - 11) + b"\xf7"
open(sys.argv[1], "wb").write(out)' /tmp/long.syx
    cp /tmp/long.syx "$sub/long.syx"
    cp "$windows_driver" /tmp/
    start_usb_unit "$build" "$sub" --speed "$speed" || fail "the USB unit did not come up again"
    "${product[@]:0:${#product[@]}-1}" /tmp/zelvor-virtual-run.exe --midi system --update dsp \
        --dsp 'Z:\tmp\long.syx' >"$sub/driver.out" 2>&1
    echo "Windows driver, DSP file of 96 messages from 161 to 256 bytes: exit $?, $(grep result: "$sub/driver.out")"
    kill -INT "$unit"
    wait "$unit"
    grep -q "^result: success" "$sub/driver.out" || fail "the Windows driver did not write the DSP file: $(tail -n 5 "$sub/driver.out")"
    cmp -s "$sub/dsp.bin" /tmp/long.syx || fail "the unit's DSP bytes differ from the file's ($(stat -c %s "$sub/dsp.bin") of $(stat -c %s /tmp/long.syx) bytes)"
    echo "the unit's DSP bytes equal the file's ($(stat -c %s /tmp/long.syx) bytes)"
}

# The end of every scenario: Ctrl+Q quits, then the unit stops and writes its outputs.
pass()
{
    quit_by_keys
    kill -INT "$unit"
    wait "$unit"
    echo "unit: exit $?"
    cat "$out/unit.out"
    [ -n "$windows_driver" ] && long_dsp_messages_run
    echo "PASS ($TEST_NAME-$scenario)"
    cleanup
    exit 0
}

start_window_manager
# Where to click, as the demo of the same build tells it (the shipped updater has the same layout).
load_layout "$(demo_in "$build")"
if [ "$scenario" = held ]; then
    hold_unit_device
    start_program "${product[@]}"
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
    pass
fi
start_program "${product[@]}"
# Under Wine in this machine, emulated on a host that runs other work, the window has once not
# come within 300 s, with nothing on stderr: more time, when it came is said, and where the
# program's threads were when it did not.
started_at=$SECONDS
if ! within 600 has_window "$MAIN_TITLE"; then
    ps -o pid,stat,time,etime,args -e | grep -iE 'wine|Zelvor' | grep -v grep
    describe_stuck_program
    fail "timed out after 600s waiting for the updater's window"
fi
echo "the updater's window after $((SECONDS - started_at)) s"
no_box || fail "a box at start with the unit plugged in"
screenshot "$TEST_NAME-start"
# As a person does: clicks once the window shows its button (on a loaded machine it may stay blank
# for a while after it opens), and again when after a while nothing has come of the click.
painted() { [ "$(import -window "$(window_titled "$MAIN_TITLE")" -format %k info: 2>/dev/null || echo 0)" -gt 64 ]; }
click_update_zelvor()
{
    wait_for 120 "the updater's window to be drawn" painted
    for try in 1 2 3; do
        click_at "$(window_titled "$MAIN_TITLE")" $(centre update-all)
        within 40 has_window "Firmware Updater" && return 0
        has_box && fail "a box instead of the progress window: $(xdotool getwindowname "$(box_window)")"
    done
    fail "the Update Zelvor button did not take three clicks"
}
click_update_zelvor
screenshot "$TEST_NAME-dsp"

# Pulls the unit out (unbinds its gadget) once it has seen more than COUNT messages that start
# with PREFIX, and waits until the host no longer lists it.
seen_more() { [ "$(logged "> $1")" -gt "$2" ]; } # prefix count
unit_gone() { ! usb_unit_listed; }
unplug_after() # prefix count
{
    wait_for 600 "$2 messages '$1'" seen_more "$1" "$2"
    kill -USR2 "$unit"
    wait_for 10 "the unit to go" unit_gone
}
plug_in() { kill -USR2 "$unit"; wait_for 30 "the unit to come back" usb_unit_listed; }
box_title() { xdotool getwindowname "$(box_window)"; }
# The box shown is the success box: as the demo tells it; for the shipped updater, by its height
# (the success text wraps to two lines; the failure text, like the continue box's, to three).
success_box_shown()
{
    if [ "$tells_boxes" = 1 ]; then
        said "box: info [] Firmware has been updated successfully."
    else
        [ "$(box_height "$(box_window)")" -lt "$continue_height" ]
    fi
}
end_here() # after the last box: the main window stays, with no box, and Ctrl+Q quits with 0
{
    wait_for 30 "no box" no_box
    pass
}

if [ "$scenario" = unplug-dsp ]; then
    unplug_after "F0 00 00 10" 200 # a little way into the DSP replay
    # The phase ends as failed, with the box that asks for a power cycle and no continue box.
    wait_for 300 "the failure box" has_box
    screenshot "$TEST_NAME-unplug-dsp-failed"
    [ "$(box_title)" = Failed ] || fail "the box after the unplug is titled '$(box_title)', not 'Failed'"
    plug_in
    answer_box Return
    end_here
fi

# The DSP phase takes about two minutes at the unit's pace.
wait_for 600 "the continue box" has_box
[ "$tells_boxes" = 1 ] || continue_height=$(box_height "$(box_window)")
screenshot "$TEST_NAME-continue"
# As told, the user power-cycles the unit, then continues.
kill -USR1 "$unit"
answer_box Return
wait_for 120 "the progress window (QEX)" has_window "Firmware Updater"

if [ "$scenario" = unplug-qex ]; then
    unplug_after "F0 06 00 1B 02 7A" 20 # some blocks into the flash
    wait_for 300 "the failure box" has_box
    screenshot "$TEST_NAME-unplug-qex-failed"
    said "box: info [] Firmware update has failed." || fail "the box after the unplug is not the failure box"
    answer_box Return
    # Still unplugged: the program asks for the unit, and goes on once it is back.
    wait_for 30 "the power-on box" has_box
    screenshot "$TEST_NAME-unplug-qex-power-on"
    # Plugged in again, the unit starts from cold: its flash half written, it starts only its
    # loader, under the loader's names.
    loader_names() { [ "$(grep -c "bound as Sorvanta Zelvor Loader" "$out/unit.out")" -gt "$1" ]; }
    loaders=$(grep -c "bound as Sorvanta Zelvor Loader" "$out/unit.out")
    kill -USR1 "$unit"
    wait_for 30 "the unit to come back as its loader" loader_names "$loaders"
    answer_box Return
    wait_for 30 "no box" no_box
    # The same program, still running, recovers it: " Update Zelvor" again writes the QEX
    # firmware first, asks for a power cycle, then writes the DSP firmware.
    click_update_zelvor
    wait_for 600 "the continue box after the QEX firmware" has_box
    screenshot "$TEST_NAME-recover-continue"
    kill -USR1 "$unit"
    answer_box Return
    wait_for 120 "the progress window (DSP)" has_window "Firmware Updater"
    wait_for 600 "the last box" has_box
    screenshot "$TEST_NAME-recover-last-box"
    success_box_shown || fail "the last box of the recovery is not the success box"
    answer_box Return
    end_here
fi

wait_for 600 "the last box" has_box
screenshot "$TEST_NAME-last-box"
success_box_shown || fail "the last box is not the success box"
answer_box Return
pass
