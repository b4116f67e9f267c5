#!/bin/bash
# Runs inside the USB machine: the virtual unit on USB (zelvor-usb-unit) and the headless driver
# on the machine's real MIDI ports, through the kernel's USB-MIDI driver and JUCE's ALSA code.
# usage: driver_job.sh BUILD_DIR OUT_DIR SPEED SCENARIO USB_TEST_DIR [TEST_PROGRAM]
# (system-midi: TEST_PROGRAM is a test program, its SystemMidi tests run against the unit)
set -u
build=$1 out=$2 speed=$3 scenario=$4 test_program=${6:-}
. "$5/unit.sh"

fault=none
[ "$scenario" = loader-late ] && fault=slow-loader-restart
[ "$scenario" = loader-gone ] && fault=loader-never-back
# The unit pulls itself out as its loader is asked who it is: the gap between two messages of
# the handshake is too short to hit from outside on a busy machine.
[ "$scenario" = unplug-qex-handshake ] && fault=unplug-after:3
if ! start_usb_unit "$build" "$out" --speed "$speed" --fault "$fault"; then
    echo "the USB unit did not come up"
    cat "$out/unit.out"
    exit 3
fi

driver() { "$build/driver/zelvor-virtual-run" --midi system --speed "$speed" "$@" >"$out/driver.out" 2>&1; }
# Runs an update and unplugs the unit (unbinds its gadget) once the unit has seen more than
# COUNT messages that start with PREFIX.
unplug_during() # update prefix count
{
    driver --update "$1" &
    local run=$!
    for _ in $(seq 4500); do
        [ "$(logged "> $2")" -gt "$3" ] && break
        kill -0 "$run" 2>/dev/null || break
        sleep 0.02
    done
    kill -USR2 "$unit"
    wait "$run"
}

case $scenario in
full-update)
    # First a second unit beside it, in its loader: nothing tells the two apart, so the driver
    # refuses before a byte reaches either. Unplugged, the one left is updated.
    if start_second_usb_unit "$build" "$out" --speed "$speed" --in-loader; then
        driver --update all
        echo "two units: exit $?, written to the first $(written_to "$out/unit.log"), to the second $(written_to "$out/second-unit.log")"
        cp "$out/driver.out" "$out/driver-two-units.out"
    else
        echo "two units: the second unit did not come up"
    fi
    kill -INT "$second"
    wait "$second"
    cat "$out/second-unit.out"
    for _ in $(seq 300); do usb_units_listed 2 || break; sleep 0.1; done
    # The update's own traffic starts here, for the traffic rules.
    grep -c . "$out/unit.log" >"$out/unit-log-lines-before" || true
    driver --update all --power-cycle "kill -USR1 $unit"
    rc=$?
    ;;
unplug-dsp)
    unplug_during dsp "F0 00 00 10" 200 # a little way into the replay
    rc=$?
    ;;
unplug-qex-handshake)
    driver --update qex
    rc=$?
    ;;
unplug-qex-blocks)
    unplug_during qex "F0 06 00 1B 02 7A" 20
    rc=$?
    ;;
loader-late)
    driver --update qex # the loader comes back after 8000 ms, past the 5500 ms allowed
    rc=$?
    ;;
loader-gone)
    driver --update qex # the unit goes away to restart into its loader and stays away
    rc=$?
    ;;
system-midi)
    # One thread lists the ports while another opens and closes the unit's, through JUCE's ALSA
    # code and the real sequencer.
    ZELVOR_SYSTEM_MIDI_ROUNDS=300 "$test_program" --gtest_filter='SystemMidi.*' >"$out/driver.out" 2>&1
    rc=$?
    ;;
held)
    # Another program has the unit's raw MIDI device open, so the sequencer cannot subscribe
    # to its port: the driver must refuse before it sends anything, then work once it is free.
    hold_unit_device
    driver --update dsp
    held_rc=$?
    cp "$out/driver.out" "$out/driver-held.out"
    kill "$holder"
    wait "$holder" 2>/dev/null
    echo "while held: exit $held_rc, $(grep -c . "$out/unit.log") messages reached the unit"
    cat "$out/driver-held.out"
    # Freed, the unit takes an update: a short DSP file, the image's first 40 messages (the
    # whole image goes over USB in the full update).
    python3 - "$build/generated-resources/dspImage.syx" "$out/short.syx" <<'PY'
import sys
data, end = open(sys.argv[1], 'rb').read(), 0
for _ in range(40):
    end = data.index(0xF7, end) + 1
open(sys.argv[2], 'wb').write(data[:end])
PY
    driver --update dsp --dsp "$out/short.syx"
    rc=$?
    ;;
*)
    echo "unknown scenario $scenario"
    rc=2
    ;;
esac

kill -INT "$unit"
wait "$unit"
echo "unit: exit $?"
cat "$out/unit.out" "$out/driver.out"
exit "$rc"
