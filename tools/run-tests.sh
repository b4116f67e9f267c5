#!/usr/bin/env bash
# Builds and runs every test: the plain build (unit tests, the window tests under Xvfb, then
# the USB tests in a QEMU machine),
# the Debian package (installed, started and removed), the Windows build (its programs and
# installer under Wine), then a short run of each fuzzer, the link and transfer tests under
# ThreadSanitizer and everything under AddressSanitizer + UndefinedBehaviorSanitizer.
# ZELVOR_QUICK=1 runs only the plain build.
set -eu
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}

build() # dir, extra cmake args...
{
    local dir=$1
    shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

echo "== plain build"
build build
ctest --test-dir build -LE "gui|usb" --output-on-failure -j"$jobs"
ctest --test-dir build -L gui --output-on-failure

echo "== the unit on USB, in a QEMU machine"
ctest --test-dir build -L usb --output-on-failure

[ "${ZELVOR_QUICK:-0}" = 1 ] && exit 0

echo "== Debian package"
tools/build-deb.sh build-deb
tests/packaging/deb_test.sh build-deb/packages/*.deb

echo "== Windows build, tested under Wine"
tools/build-windows.sh build-windows
ctest --test-dir build-windows -L windows --output-on-failure
# The Windows updater under Wine updates the unit on USB, in the QEMU machine (it takes the
# Windows tests' Wine prefix).
tests/usb/usb_test.sh build build/generated-resources windows-full-update \
    build-windows/ZelvorUpdater_artefacts/Release/ZelvorUpdater.exe

echo "== fuzzing smoke"
tools/fuzz.sh "${ZELVOR_FUZZ_SECONDS:-10}"

echo "== ThreadSanitizer"
build build-tsan -DZELVOR_SANITIZE=thread
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir build-tsan -L unit -R "${ZELVOR_TSAN_TESTS:-Link|Transfer|Virtual|PortDiscovery|Pacing|UpdaterPanel|FullUpdate}" --output-on-failure -j"$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build-asan -DZELVOR_SANITIZE=address
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" \
    ctest --test-dir build-asan -LE "gui|usb" --output-on-failure -j"$jobs"
