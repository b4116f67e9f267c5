#!/usr/bin/env bash
# The Debian package as a user gets it: its contents and metadata, then installed with apt-get on
# this machine, the installed updater started under Xvfb (its window and connect box, as in the
# window tests), and removed again without leaving its files behind. Needs root or sudo.
# usage: deb_test.sh PACKAGE.deb
set -u
deb=$(realpath "$1")
here=$(dirname "$0")
name=zelvor-updater
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail()
{
    echo "FAIL (deb): $*"
    exit 1
}

[ -f "$deb" ] || fail "no package at $1"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    sudo -n true 2>/dev/null || { echo "SKIPPED (deb): installing the package needs root or sudo"; exit 0; }
    as_root=(sudo -n)
fi

# What is in it.
dpkg-deb --contents "$deb" | awk '{print $6}' >"$work/contents"
for path in ./usr/bin/$name ./usr/share/applications/$name.desktop ./usr/share/man/man1/$name.1.gz \
            ./usr/share/doc/$name/copyright ./usr/share/doc/$name/changelog.Debian.gz; do
    grep -qx "$path" "$work/contents" || fail "$path is not in the package"
done
for size in 16 22 24 32 48 64 128 256; do
    grep -qx "./usr/share/icons/hicolor/${size}x${size}/apps/$name.png" "$work/contents" \
        || fail "no ${size}x${size} icon in the hicolor theme"
done
grep -E '^\./usr/(bin|share)/' "$work/contents" | grep -vE "$name|/$" && fail "files of other programs are in the package"

dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/$name.desktop" || fail "the .desktop entry does not validate"
grep -qx "Exec=$name" "$work/root/usr/share/applications/$name.desktop" || fail "the .desktop entry does not start $name"
for size in 16 48 256; do
    identify -format '%wx%h' "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/$name.png" | grep -qx "${size}x${size}" \
        || fail "the ${size}x${size} icon has another size"
done
zcat "$work/root/usr/share/man/man1/$name.1.gz" | grep -q '^\.SH NAME' || fail "the man page has no NAME section"
man -l "$work/root/usr/share/man/man1/$name.1.gz" 2>&1 >/dev/null | grep . && fail "the man page has formatting warnings"
file -b "$work/root/usr/bin/$name" | grep -q ', stripped' || fail "the program is not stripped"

depends=$(dpkg-deb -f "$deb" Depends)
for dep in libc6 libstdc++6 libasound2 libfreetype6 libpng16-16 libjpeg62-turbo libx11-6 libxext6 fonts-dejavu-core; do
    echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qxF "$dep" || fail "Depends lacks $dep: $depends"
done
echo "contents and metadata: ok (Depends: $depends)"

# Installed, run, removed.
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "$deb" >"$work/install.log" 2>&1 \
    || { cat "$work/install.log"; fail "apt-get install failed"; }
[ "$(command -v $name)" = "/usr/bin/$name" ] || fail "$name is not on the PATH after the install"
dpkg-query -W -f='${Status}' $name | grep -q "install ok installed" || fail "dpkg does not list the package as installed"

# The title the window should have is the one the build of the package wrote (BUILD/packages/*.deb).
ZELVOR_BUILD_DIR=${ZELVOR_BUILD_DIR:-$(dirname "$(dirname "$deb")")} TEST_NAME=deb-installed xvfb-run -a -s "-screen 0 1280x800x24" "$here/../gui/product_test.sh" "/usr/bin/$name" \
    || fail "the installed updater did not behave"

DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get remove -y -q --purge $name >"$work/remove.log" 2>&1 \
    || { cat "$work/remove.log"; fail "apt-get remove failed"; }
left=$(grep -E '^\./usr/' "$work/contents" | sed 's/^\.//' | while read -r path; do
    [ -f "$path" ] && echo "$path"
done)
[ -z "$left" ] || fail "files left after removal: $left"
dpkg-query -W -f='${Status}' $name 2>/dev/null | grep -q "installed" && fail "dpkg still lists the package"
echo "PASS: $(basename "$deb") installed with apt-get, started under Xvfb, removed cleanly"
