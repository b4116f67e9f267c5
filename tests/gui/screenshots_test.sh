#!/usr/bin/env bash
# The README's pictures are of the windows the program shows now: tools/screenshots.sh makes them
# again into a scratch folder, and each must have the size of the one in docs/pictures (not the
# same pixels: the progress and the fonts' rendering vary).
# usage: screenshots_test.sh BUILD_DIR
set -u
repo=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
ZELVOR_SCREENSHOT_SPEED=20 "$repo/tools/screenshots.sh" "$1" "$out" || { echo "FAIL (screenshots): the script failed"; exit 1; }
bad=0
for kept in "$repo"/docs/pictures/*.png; do
    made=$out/$(basename "$kept")
    want=$(identify -format '%wx%h' "$kept")
    got=$(identify -format '%wx%h' "$made" 2>/dev/null || echo none)
    if [ "$got" = "$want" ]; then
        echo "$(basename "$kept"): $got"
    else
        echo "FAIL (screenshots): $(basename "$kept") is $want in docs/pictures, $got now (make them again: tools/screenshots.sh build)"
        bad=1
    fi
done
[ "$(ls "$out"/*.png | wc -l)" = "$(ls "$repo"/docs/pictures/*.png | wc -l)" ] || { echo "FAIL (screenshots): not the same pictures"; bad=1; }
[ "$bad" = 0 ] && echo "PASS (screenshots)"
exit "$bad"
