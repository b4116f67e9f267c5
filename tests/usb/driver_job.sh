#!/bin/bash
# Runs inside the USB machine: the virtual unit on USB (zelvor-usb-unit) and the headless driver
# on the machine's real MIDI ports, through the kernel's USB-MIDI driver and JUCE's ALSA code.
# usage: driver_job.sh BUILD_DIR OUT_DIR SPEED SCENARIO
set -u
build=$1 out=$2 speed=$3 scenario=$4

"$build/tools/zelvor-usb-unit" --speed "$speed" --flash "$out/flash.bin" --dsp-received "$out/dsp.bin" \
    --log "$out/unit.log" >"$out/unit.out" 2>&1 &
unit=$!

# The unit is there once the host side has its sequencer client (the gadget side is "f_midi").
unit_listed() { aconnect -l 2>/dev/null | grep -q "Sorvanta"; }
for _ in $(seq 300); do
    unit_listed && break
    kill -0 "$unit" 2>/dev/null || break
    sleep 0.1
done
if ! unit_listed; then
    echo "the USB unit did not come up"
    cat "$out/unit.out"
    exit 3
fi

driver() { "$build/tools/zelvor-virtual-run" --midi system --speed "$speed" "$@" >"$out/driver.out" 2>&1; }
dsp_messages() { local n; n=$(grep -c '> F0 00 00 10' "$out/unit.log" 2>/dev/null); echo "${n:-0}"; }

case $scenario in
full-update)
    driver --update all --power-cycle "kill -USR1 $unit"
    rc=$?
    ;;
unplug-dsp)
    # Pulled out a little way into the DSP replay.
    driver --update dsp &
    run=$!
    for _ in $(seq 600); do
        [ "$(dsp_messages)" -gt 200 ] && break
        sleep 0.1
    done
    kill -USR2 "$unit"
    wait "$run"
    rc=$?
    ;;
held)
    # Another program has the unit's raw MIDI device open, so the sequencer cannot subscribe
    # to its port: the driver must refuse before it sends anything, then work once it is free.
    card=$(awk '/Sorvanta Zelvor USB MIDI/ {print $1; exit}' /proc/asound/cards)
    sleep 600 <>"/dev/snd/midiC${card}D0" &
    holder=$!
    driver --update dsp
    held_rc=$?
    cp "$out/driver.out" "$out/driver-held.out"
    kill "$holder"
    wait "$holder" 2>/dev/null
    echo "while held: exit $held_rc, $(grep -c . "$out/unit.log") messages reached the unit"
    cat "$out/driver-held.out"
    driver --update dsp
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
