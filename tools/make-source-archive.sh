#!/usr/bin/env bash
# The complete source of what the packages carry compiled in, for the GPL's source requirement:
#   tools/make-source-archive.sh [--with FILE]... OUTPUT.tar.xz VERSION JUCE_MODULES_DIR MODULE...
# packs the project's tracked files as they are in the checkout (what was built, not the last
# commit) and the JUCE modules the program compiles in, under zelvor-updater-VERSION/; each
# --with FILE (the source packages of libraries a build links statically) goes into its
# libraries/ folder. The archive is the same for the same files: sorted, no owners, one fixed date.
set -eu
with=()
while [ "${1:-}" = --with ]; do
    with+=("$(realpath "$2")")
    shift 2
done
output=$(realpath -m "$1")
version=$2
modules_dir=$3
shift 3
cd "$(dirname "$0")/.."
top=zelvor-updater-$version
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/$top/juce-modules"
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$work/$top"
for module in "$@"; do
    [ -d "$modules_dir/$module" ] || { echo "no JUCE module $module in $modules_dir" >&2; exit 1; }
    cp -r "$modules_dir/$module" "$work/$top/juce-modules/"
done
if [ ${#with[@]} -gt 0 ]; then
    mkdir -p "$work/$top/libraries"
    cp "${with[@]}" "$work/$top/libraries/"
fi
cat >"$work/$top/juce-modules/README" <<TEXT
The JUCE modules compiled into the program, as Debian's package juce-modules-source
$(dpkg-query -W -f='${Version}' juce-modules-source 2>/dev/null || echo '(version unknown)') installs them in $modules_dir.
TEXT
tar -C "$work" --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -cf - "$top" | xz -6 -T2 >"$output.part"
mv "$output.part" "$output"
