#!/usr/bin/env bash
# Starts the demo (the updater on a virtual unit, with the "Virtual Zelvor" window beside it) from
# a build folder; extra arguments go to the demo (--speed N, --fault NAME, ...). Without a
# display it says so and runs the headless full update of the virtual unit instead.
set -eu
build=${1:-build}
shift || true
demo=$(ls "$build"/demo/ZelvorUpdaterDemo_artefacts/*/ZelvorUpdaterDemo 2>/dev/null | head -n 1)
if [ -n "${DISPLAY:-}" ] && [ -n "$demo" ]; then
    exec "$demo" "$@"
fi
echo "No display (DISPLAY is not set): running the headless full update of the virtual unit instead."
exec "$build/driver/zelvor-virtual-run" --speed 10
