#!/usr/bin/env bash
# The Windows installer under Wine, as an administrator would use it unattended: a silent install
# puts the program, its licence and an uninstaller into Program Files with a Start-menu entry and
# an entry under installed apps; the installed program opens its window and answers its connect
# box; a silent uninstall takes all of it away again.
# usage: installer_test.sh INSTALLER.exe PROGRAM.exe   (under X, ZELVOR_WINE and WINEPREFIX set)
TEST_NAME=installer
installer=$1
built=$2
here=$(dirname "$0")
. "$here/../gui/lib.sh" # fail, wait_for
wine=$ZELVOR_WINE
drive_c=$WINEPREFIX/drive_c
folder="$drive_c/Program Files/Zelvor/Updater"
shortcut="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zelvor/Zelvor Updater.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZelvorUpdater'

registered() { "$wine" reg query "$key" /v DisplayVersion 2>/dev/null | tr -d '\r' | grep -q "REG_SZ *$1\$"; }
unregistered() { ! "$wine" reg query "$key" >/dev/null 2>&1; }
all_gone() { [ ! -e "$folder" ] && [ ! -e "$shortcut" ] && unregistered; }

[ -f "$installer" ] || fail "no installer at $installer"
version=$(basename "$installer" | sed -n 's/^ZelvorUpdater-\(.*\)-setup\.exe$/\1/p')
[ -n "$version" ] || fail "cannot read the version from the installer's name"

"$wine" "$installer" /S || fail "the silent install ended with exit code $?"
wait_for 60 "the installed program" test -f "$folder/ZelvorUpdater.exe"
cmp -s "$folder/ZelvorUpdater.exe" "$built" || fail "the installed program differs from the one built"
cmp -s "$folder/LICENSE.txt" "$here/../../LICENSE" || fail "the licence text is not installed"
[ -f "$folder/Uninstall.exe" ] || fail "no uninstaller"
[ -f "$shortcut" ] || fail "no Start-menu entry at $shortcut"
registered "$version" || fail "no entry for version $version under installed apps"
echo "installed: $(ls "$folder" | tr '\n' ' ')"

TEST_NAME=installed-product "$here/../gui/product_test.sh" "$wine" "$folder/ZelvorUpdater.exe" \
    || fail "the installed program did not behave"

"$wine" "$folder/Uninstall.exe" /S || fail "the silent uninstall ended with exit code $?"
# The uninstaller runs on from a copy of itself, so what it removes goes shortly after.
wait_for 60 "the uninstaller to remove everything" all_gone
[ ! -e "$drive_c/Program Files/Zelvor" ] || fail "an empty Zelvor folder was left in Program Files"
echo "PASS: silent install of $version, Start-menu entry, installed program ran, silent uninstall left nothing"
cleanup
