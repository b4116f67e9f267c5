# Shared by the jobs inside the USB machine (sourced): the virtual unit on USB, its traffic log,
# and another program holding its raw MIDI device.

# start_usb_unit BUILD_DIR OUT_DIR [UNIT OPTIONS...]: starts zelvor-usb-unit with its outputs in
# OUT_DIR, sets $unit to its process, and waits until the host side lists the unit's sequencer
# client (the gadget side is "f_midi"). Fails when it does not come up within 30 s.
start_usb_unit()
{
    local build=$1 out=$2
    shift 2
    "$build/usb-unit/zelvor-usb-unit" "$@" --flash "$out/flash.bin" --dsp-received "$out/dsp.bin" \
        --log "$out/unit.log" >"$out/unit.out" 2>&1 &
    unit=$!
    wait_for_usb_units 1 "$unit"
}

# start_second_usb_unit BUILD_DIR OUT_DIR [UNIT OPTIONS...]: a second unit on the machine's second
# USB device controller, its outputs named second-*; sets $second.
start_second_usb_unit()
{
    local build=$1 out=$2
    shift 2
    "$build/usb-unit/zelvor-usb-unit" "$@" --gadget zelvor2 --udc dummy_udc.1 --flash "$out/second-flash.bin" \
        --dsp-received "$out/second-dsp.bin" --log "$out/second-unit.log" >"$out/second-unit.out" 2>&1 &
    second=$!
    wait_for_usb_units 2 "$second"
}

wait_for_usb_units() # count process
{
    for _ in $(seq 300); do
        usb_units_listed "$1" && return 0
        kill -0 "$2" 2>/dev/null || break
        sleep 0.1
    done
    usb_units_listed "$1"
}
usb_units_listed() { [ "$(aconnect -l 2>/dev/null | grep -c "client.*Sorvanta")" -ge "$1" ]; }

# How many lines of the unit's traffic log ($out/unit.log) contain TEXT.
logged() { local n; n=$(grep -c -- "$1" "$out/unit.log" 2>/dev/null); echo "${n:-0}"; } # text

# Opens the unit's raw MIDI device as another program would and keeps it open; sets $holder.
hold_unit_device()
{
    local card
    card=$(awk '/Sorvanta Zelvor USB MIDI/ {print $1; exit}' /proc/asound/cards)
    sleep 600 <>"/dev/snd/midiC${card}D0" &
    holder=$!
}
usb_unit_listed() { usb_units_listed 1; }

# Lines of a unit's traffic log sent to it that are not the identity request, which only asks
# who it is.
written_to() { local n; n=$(grep ' > ' "$1" 2>/dev/null | grep -vc ' > F0 06 7F 1B 7F 01 00 7F 7F 7F 63 F7$'); echo "${n:-0}"; } # log
