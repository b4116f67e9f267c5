#!/usr/bin/env bash
# Builds and runs every test: the plain build (unit tests, the window tests under Xvfb, the USB
# tests in QEMU machines), the Debian package made from that build (installed, started and
# removed), the Windows build (its programs and installer under Wine, and its updater on USB),
# the link and transfer tests under ThreadSanitizer, and everything under AddressSanitizer +
# UndefinedBehaviorSanitizer with a short run of each fuzzer. Prints each stage's time at the end.
# ZELVOR_QUICK=1 runs only the plain build's stages.
#
# The two runs of the shipped updaters at the unit's real pace (Linux and Windows, each in a USB
# machine) mostly sleep, so each runs beside other stages rather than on its own.
set -eu
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
logs=$PWD/build-logs
mkdir -p "$logs"

# One compiler cache for every clone of the project: paths inside the checkout are hashed as
# relative ones and the build folder is left out, so a fresh clone elsewhere reuses what an
# earlier one compiled.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-20G}

started=$(date +%s)
stage_name=""
stage_start=0
timings=()
stage() # name: ends the current stage and starts the next
{
    local now
    now=$(date +%s)
    [ -n "$stage_name" ] && timings+=("$(printf '%6d s  %s' $((now - stage_start)) "$stage_name")")
    stage_name=$1
    stage_start=$now
    [ -n "$stage_name" ] && echo "== $stage_name"
    return 0
}

declare -A background_pids background_started
background() # name command...: runs beside the next stages, its output kept for await
{
    local name=$1
    shift
    "$@" >"$logs/$name.log" 2>&1 &
    background_pids[$name]=$!
    background_started[$name]=$(date +%s)
    echo "== $name: started beside the next stages"
}
await() # name: waits for a background run, prints its output, fails when it failed
{
    local name=$1 rc=0
    wait "${background_pids[$name]}" || rc=$?
    unset "background_pids[$name]"
    cat "$logs/$name.log"
    timings+=("$(printf '%6d s  %s (beside other stages)' $(($(date +%s) - background_started[$name])) "$name")")
    [ "$rc" -eq 0 ] || { echo "!! $name failed (exit $rc)"; return 1; }
}

finish()
{
    local rc=$?
    for pid in "${background_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    stage ""
    echo "== stage times"
    printf '%s\n' "${timings[@]}"
    printf '%6d s  in all (%s)\n' $(($(date +%s) - started)) "$([ "$rc" -eq 0 ] && echo passed || echo FAILED)"
}
trap finish EXIT

build() # dir, extra cmake args... (then --targets for a partial build)
{
    local dir=$1 targets=()
    shift
    local args=()
    while [ $# -gt 0 ]; do
        [ "$1" = --targets ] && { shift; targets=(--target "$@"); break; }
        args+=("$1")
        shift
    done
    cmake -S . -B "$dir" "${args[@]}" >/dev/null
    cmake --build "$dir" -j"$jobs" "${targets[@]}"
}

stage "format"
tools/check-format.sh

# The plain build is a Release build, the one the Debian package is made from.
stage "plain build"
build build -DCMAKE_BUILD_TYPE=Release

# The shipped updater's full update at the unit's real pace sleeps most of its six minutes.
background usb-product-full-update ctest --test-dir build -R "^usb_product-full-update$" --output-on-failure

if [ "${ZELVOR_QUICK:-0}" != 1 ]; then
    # The Windows build first, so that its updater's run on USB (at the unit's real pace, ten
    # minutes under Wine in the machine) can start early and run beside the stages after it.
    stage "Windows build"
    tools/build-windows.sh build-windows

    stage "Windows tests under Wine"
    ctest --test-dir build-windows -L windows --output-on-failure

    # After the Windows tests, not beside them: started beside them, with the other USB machine
    # running too, the updater under Wine in its emulated machine once showed no window in 300 s.
    # In a Wine prefix of its own.
    background usb-windows-full-update tests/usb/usb_test.sh build build/generated-resources windows-full-update \
        build-windows/ZelvorUpdater_artefacts/Release/ZelvorUpdater.exe build-windows/usb-wine-prefix

    # One clang build serves the ASan + UBSan tests and the fuzzers (built with the fuzzer's
    # coverage, linked with libFuzzer only in the fuzz targets).
    stage "AddressSanitizer + UndefinedBehaviorSanitizer build"
    CC=clang CXX=clang++ build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVOR_SANITIZE=address -DZELVOR_FUZZ=ON \
        --targets zelvor_tests zelvor-virtual-run ZelvorUpdaterDemo zelvor-usb-unit zelvor_fuzzers keep_awake_probe

    stage "ThreadSanitizer build"
    build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVOR_SANITIZE=thread --targets zelvor_tests
fi

# Most unit tests wait on the virtual unit's pace rather than compute, so four at a time.
stage "unit tests"
ctest --test-dir build -LE "gui|usb" --output-on-failure -j"$((jobs * 2))"

stage "window tests"
ctest --test-dir build -L gui --output-on-failure

if [ "${ZELVOR_QUICK:-0}" != 1 ]; then
    stage "Debian package"
    tools/build-deb.sh build
    tests/packaging/deb_test.sh build/packages/*.deb

    stage "AddressSanitizer + UndefinedBehaviorSanitizer tests"
    ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" \
        ctest --test-dir build-asan -LE "gui|usb" --output-on-failure -j"$((jobs * 2))"

    stage "fuzzing smoke"
    tools/fuzz.sh "${ZELVOR_FUZZ_SECONDS:-10}"

    stage "ThreadSanitizer tests"
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
        ctest --test-dir build-tsan -L unit -R "${ZELVOR_TSAN_TESTS:-Link|Transfer|Virtual|PortDiscovery|Pacing|UpdaterPanel|FullUpdate|SeveralUnits}" --output-on-failure -j"$jobs"

    # The USB machines that run at the link's pace (not the unit's) need the processor to
    # themselves: they wait for the Windows updater's machine, which then has little left to do.
    stage "Windows updater on USB (the rest of its time)"
    await usb-windows-full-update

    # The port seam's one lock around JUCE's ALSA client, against the real sequencer in the USB
    # machine: one thread lists the ports while another opens and closes the unit's (ASan's and
    # UBSan's defaults there: leaks checked, UBSan built to stop at the first report).
    stage "AddressSanitizer + UndefinedBehaviorSanitizer on the ALSA sequencer"
    tests/usb/usb_test.sh build build/generated-resources system-midi build-asan/tests/zelvor_tests
fi

stage "USB tests"
ctest --test-dir build -L usb -E "^usb_product-full-update$" --output-on-failure
await usb-product-full-update
