#!/usr/bin/env bash
# One test on the real USB-MIDI stack: boots the USB machine, runs a job in it, then checks
# what the unit received and what the program said.
#   usb_test.sh BUILD_DIR RESOURCE_DIR SCENARIO [PRODUCT [WINE_PREFIX]]
# (product-*: PRODUCT is the shipped updater, run at the unit's real pace, or the demo, run on the
# system's MIDI ports at ZELVOR_USB_SPEED; windows-full-update: PRODUCT is the Windows updater,
# in the wine-prefix folder of its build, or in WINE_PREFIX made anew here; system-midi: PRODUCT is a test
# program, best a sanitizer build, whose SystemMidi tests then run against the unit)
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
resources=$(cd "$2" && pwd)
scenario=$3
product=${4:-}
# The link's pace on USB: twice the unit's real pace, at which the traffic rules' slack holds.
# The recovery from the loader (two images, written twice over) is checked by what the unit ends
# up holding, not by its traffic, so it runs at four times.
speed=${ZELVOR_USB_SPEED:-2}
[ "$scenario" = product-unplug-qex ] && speed=${ZELVOR_USB_SPEED:-4}
results=$build/usb-results/$scenario
rm -rf "$results"
mkdir -p "$results"

fail() { echo "FAIL (usb-$scenario): $*"; exit 1; }
said() { grep -qF -- "$1" "$results/driver.out"; }

# The flash holds every block of the QEX image; the DSP bytes are the DSP image, byte for byte.
images_written()
{
    python3 - "$resources" "$results" "$1" <<'PY'
import os, sys
resources, results, which = sys.argv[1:4]
sys.path.insert(0, os.environ["ZELVOR_TESTS"])
from qex_image import qex_blocks
problems = []
if which in ("all", "dsp"):
    if open(os.path.join(results, "dsp.bin"), "rb").read() != open(os.path.join(resources, "dspImage.syx"), "rb").read():
        problems.append("the DSP bytes received differ from the DSP image")
if which in ("all", "qex"):
    flash = open(os.path.join(results, "flash.bin"), "rb").read()
    image = open(os.path.join(resources, "qexImage.bin"), "rb").read()
    if not all(flash[a:a + len(d)] == d for a, d in qex_blocks(image)):
        problems.append("the flash does not hold the QEX image")
print("\n".join(problems))
sys.exit(1 if problems else 0)
PY
}
export ZELVOR_TESTS=$here/..

case $scenario in
driver-*)
    started=$SECONDS
    "$here/machine.sh" --cache "$build/usb-machine" --results "$results" --timeout 900 --share "$build" \
        "$here/driver_job.sh" "$build" "$results" "$speed" "${scenario#driver-}" "$here" | tee "$results/job.out"
    rc=${PIPESTATUS[0]}
    echo "usb-$scenario: $((SECONDS - started)) s with the machine's boot"
    [ -f "$results/driver.out" ] || fail "the job did not run the driver (exit $rc)"
    if [ "$scenario" = driver-full-update ]; then
        grep -q "^two units: exit 1, written to the first 0, to the second 0$" "$results/job.out" ||
            fail "two units: not refused before a byte: $(grep "^two units" "$results/job.out")"
        grep -qF "result: failure: more than one Zelvor is connected" "$results/driver-two-units.out" ||
            fail "two units: $(tail -n1 "$results/driver-two-units.out")"
        [ "$rc" -eq 0 ] || fail "the update did not succeed (exit $rc)"
        said "result: success" || fail "no success line"
        images_written all || fail "what the unit received is not the built-in images"
        # The QEX phase restarted the unit into its loader: a real re-enumeration.
        grep -q "bound as Sorvanta Zelvor Loader" "$results/unit.out" || fail "the unit never came up as its loader"
        tail -n +$(($(cat "$results/unit-log-lines-before") + 1)) "$results/unit.log" >"$results/update.log"
        python3 "$here/traffic_rules.py" "$results/update.log" || fail "the traffic broke the protocol's rules"
    elif [ "$scenario" = driver-held ]; then
        grep -qF "result: failure: Zelvor is being used by another program" "$results/driver-held.out" ||
            fail "the held unit was not reported as held: $(tail -n1 "$results/driver-held.out")"
        grep -q "while held: exit [1-9][0-9]*, 0 messages" "$results/job.out" || fail "messages were sent while the unit was held"
        [ "$rc" -eq 0 ] && said "result: success" || fail "the update after the unit was freed did not succeed (exit $rc)"
        cmp -s "$results/dsp.bin" "$results/short.syx" || fail "the DSP bytes after the unit was freed are not the file's"
    else
        [ "$rc" -ne 0 ] || fail "an update that could not go through exited 0"
        said "result: success" && fail "an update that could not go through reported a success"
        grep -q "^[0-9]* < F0 06 00 1B 02 7E 00 7A" "$results/unit.log" && [ "$scenario" != driver-unplug-qex-blocks ] &&
            fail "a data block was written"
        case $scenario in
            driver-unplug-dsp | driver-unplug-qex-blocks) grep -q "unplugged" "$results/unit.out" || fail "the unit was not unplugged" ;;
            driver-unplug-qex-handshake) grep -q "bound as Sorvanta Zelvor Loader" "$results/unit.out" || fail "the unit never came up as its loader" ;;
            driver-loader-gone) grep -q "bound as Sorvanta Zelvor Loader" "$results/unit.out" && fail "the loader came back" ;;
        esac
    fi
    ;;
system-midi)
    "$here/machine.sh" --cache "$build/usb-machine" --results "$results" --timeout 600 --share "$build" \
        --share "$(dirname "$(readlink -f "$product")")" \
        "$here/driver_job.sh" "$build" "$results" "$speed" system-midi "$here" "$(readlink -f "$product")" | tee "$results/job.out"
    rc=${PIPESTATUS[0]}
    [ "$rc" -eq 0 ] || fail "the test program failed in the machine (exit $rc): $(tail -n 20 "$results/driver.out" 2>/dev/null)"
    grep -q "rounds, .* with both ports open" "$results/driver.out" || fail "the test did not run against the unit"
    cat "$results/driver.out"
    ;;
product-* | windows-full-update)
    program=("$(readlink -f "$product")")
    mem=1024
    pace=1
    if [ "$(basename "${program[0]}")" = ZelvorUpdaterDemo ]; then
        # The same application on the system's MIDI ports, at the USB link's pace.
        pace=$speed
        program+=(--midi system --speed "$pace")
    fi
    if [ "$scenario" = windows-full-update ]; then
        # The Windows updater under Wine, in the Wine prefix the Windows tests made, or in one of
        # its own so that it need not wait for them (the machine writes into it only through its
        # own tmpfs, so the prefix here stays as it was).
        wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
        [ -x "$wine" ] || fail "no wine64"
        prefix=$(realpath -m "${5:-$(dirname "$product")/../../wine-prefix}") # Wine takes only absolute ones
        # Without DXGI: in this machine (no GPU) Wine's DXGI now and then makes no factory, and in
        # those runs the updater then showed no window at all (cause not found). Here that cost
        # every other run; the updater's start without DXGI has its own test on the host
        # (windows_product_without_dxgi), and its start with DXGI is the host's other Wine tests.
        wine_environment=(WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml,dxgi=)
        if [ -n "${5:-}" ]; then
            env "${wine_environment[@]}" ZELVOR_WINE="$wine" \
                "$here/../windows/in_wine.sh" "$here/../windows/wine_prefix.sh" "$prefix" || fail "no Wine prefix made at $prefix"
        fi
        [ -f "$prefix/system.reg" ] || fail "no Wine prefix at $prefix (the Windows tests make it)"
        program=(env "${wine_environment[@]}" "$wine" "${program[0]}")
        mem=2048
    fi
    started=$SECONDS
    "$here/machine.sh" --cache "$build/usb-machine" --results "$results" --timeout 1500 --mem "$mem" --share "$build" \
        "$here/product_job.sh" "$build" "$results" "$(dirname "$here")" "${scenario#*-}" "$pace" "${program[@]}"
    rc=$?
    echo "usb-$scenario: $((SECONDS - started)) s with the machine's boot"
    [ "$rc" -eq 0 ] || fail "the updater's windows did not go as expected (exit $rc)"
    if [ "$scenario" = product-unplug-qex ]; then
        # Recovered from its loader: both images in place, byte for byte. (The traffic rules
        # describe one uninterrupted update; the full-update scenario checks them.)
        images_written all || fail "what the recovered unit holds is not the built-in images"
        grep -q "power cycle" "$results/unit.out" || fail "the unit was never power-cycled"
    elif [ "$scenario" = product-unplug-dsp ]; then
        # Cut off mid-replay, the unit never got the DSP end message.
        grep -q "^[0-9]* > F0 00 00 10 00 3F 00 43 00 6D 30 00 00 00 00 7F 7F F7" "$results/unit.log" && fail "the DSP end message was sent"
    elif [ "$scenario" != product-held ]; then
        images_written all || fail "what the unit received is not the built-in images"
        grep -q "bound as Sorvanta Zelvor Loader" "$results/unit.out" || fail "the unit never came up as its loader"
        python3 "$here/traffic_rules.py" "$results/unit.log" || fail "the traffic broke the protocol's rules"
    fi
    ;;
*)
    echo "usage: usb_test.sh BUILD_DIR RESOURCE_DIR driver-SCENARIO|product-SCENARIO PRODUCT | windows-full-update EXE [WINE_PREFIX] | system-midi TEST_PROGRAM" >&2
    exit 2
    ;;
esac
echo "PASS (usb-$scenario)"
