#!/usr/bin/env bash
# The Windows installer under Wine, as an administrator and a user would meet it:
# - an older version (this installer built again with a lower version) installed silently, then
#   this one over it: the files are replaced, the entry under installed apps tells the new
#   version, its size and links, and the licence, the third-party notices and the source archive
#   lie beside the program;
# - the older one over this one is refused (exit code 4, nothing changed) unless /ALLOWDOWNGRADE;
# - this one through its pages (Return on each): the finish page's "Start" starts the program
#   through the shell, not as a child of the installer, which runs as an administrator;
# - while that program runs, a silent install and a silent uninstall are refused (exit code 3,
#   files and entry kept), and an interactive install asks (Cancel: exit code 3);
# - the program ends on its connect box's Exit; a silent uninstall then takes everything away.
# usage: installer_test.sh INSTALLER.exe PROGRAM.exe INSTALLER.nsi MAKENSIS NOTICES SOURCE_ARCHIVE
#   (under X, ZELVOR_WINE, WINEPREFIX and ZELVOR_BUILD_DIR set)
TEST_NAME=installer
installer=$1
built=$2
script=$3
makensis=$4
notices=$5
source_archive=$6
here=$(dirname "$0")
. "$here/../gui/lib.sh" # fail, wait_for, the window manager, keys, boxes
wine=$ZELVOR_WINE
# A failure can leave Wine's programs up, and a window manager told to end while it manages
# their windows can hang: the Wine session ends first.
eval "lib_$(declare -f cleanup)"
cleanup() { "$(dirname "$wine")/wineserver" -k 2>/dev/null; lib_cleanup; }
drive_c=$WINEPREFIX/drive_c
folder="$drive_c/Program Files/Zelvor/Updater"
shortcut="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zelvor/Zelvor Updater.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZelvorUpdater'
EXIT_RUNNING=3
EXIT_NEWER_INSTALLED=4

value() { "$wine" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v name="$1" '$1 == name {print $3}'; }
registered() { [ "$(value DisplayVersion)" = "$1" ]; }
unregistered() { ! "$wine" reg query "$key" >/dev/null 2>&1; }
all_gone() { [ ! -e "$folder" ] && [ ! -e "$shortcut" ] && unregistered; }
# Windows' own list of processes: name, parent's id, id.
processes() { "$wine" wmic process get name,parentprocessid,processid 2>/dev/null | iconv -f UTF-16 -t UTF-8 | tr -d '\r'; }
# silent INSTALLER ARGS... EXPECTED-EXIT-CODE WHAT
silent()
{
    local args=("$@") code
    local expected=${args[-2]} what=${args[-1]}
    "$wine" "${args[@]:0:${#args[@]}-2}"
    code=$?
    [ "$code" = "$expected" ] || fail "$what ended with exit code $code, expected $expected"
}
installed_as_built()
{
    cmp -s "$folder/ZelvorUpdater.exe" "$built" || fail "$1: the installed program differs from the one built"
    registered "$version" || fail "$1: installed apps list version '$(value DisplayVersion)', not $version"
}

[ -f "$installer" ] || fail "no installer at $installer"
version=$(basename "$installer" | sed -n 's/^ZelvorUpdater-\(.*\)-setup\.exe$/\1/p')
[ -n "$version" ] || fail "cannot read the version from the installer's name"

# The same installer as an older version, quickly (uncompressed).
old_version=0.0.1
old_installer=$WORK/ZelvorUpdater-$old_version-setup.exe
"$makensis" -V1 -NOCD -X"SetCompress off" -DAPP_VERSION=$old_version -DINSTALLER_FILE="$old_installer" "$script" \
    || fail "makensis could not build the older installer"
silent "$old_installer" /S 0 "the older version's silent install"
registered "$old_version" || fail "installed apps list version '$(value DisplayVersion)', not $old_version"
printf 'the older program' >>"$folder/ZelvorUpdater.exe"

silent "$installer" /S 0 "the silent upgrade"
installed_as_built "the upgrade"
cmp -s "$folder/LICENSE.txt" "$here/../../LICENSE" || fail "the licence text is not installed"
cmp -s "$folder/THIRD-PARTY-NOTICES.txt" "$notices" || fail "the third-party notices are not installed"
cmp -s "$folder/$(basename "$source_archive")" "$source_archive" || fail "the source archive is not installed"
for package in libpng1.6 libjpeg-turbo; do
    tar -tJf "$source_archive" | grep -q "/libraries/${package}_.*\.orig\.tar\." ||
        fail "the source archive lacks the source of $package, which the program links"
done
[ -f "$folder/Uninstall.exe" ] || fail "no uninstaller"
[ -f "$shortcut" ] || fail "no Start-menu entry at $shortcut"
size=$(($(value EstimatedSize)))
files=$(find "$folder" -type f -printf '%s\n' | awk '{ s += $1 } END { print int(s / 1024) }')
[ "$size" -ge $((files - 8)) ] && [ "$size" -le $((files + 8)) ] ||
    fail "installed apps give its size as $size KiB; its files take $files KiB"
for link in URLInfoAbout HelpLink; do
    [[ "$(value $link)" == https://* ]] || fail "no $link web address in the entry: '$(value $link)'"
done
echo "upgraded $old_version -> $version: $(ls "$folder" | tr '\n' ' '), EstimatedSize $size KiB, URLInfoAbout $(value URLInfoAbout)"

silent "$old_installer" /S $EXIT_NEWER_INSTALLED "the downgrade"
installed_as_built "after the refused downgrade"
silent "$old_installer" /S /ALLOWDOWNGRADE 0 "the downgrade with /ALLOWDOWNGRADE"
registered "$old_version" || fail "/ALLOWDOWNGRADE did not install $old_version"
echo "downgrade refused (exit code $EXIT_NEWER_INSTALLED), and done with /ALLOWDOWNGRADE"

# Through the pages, from the older version to this one: "I Agree" (Alt+A) on the licence's
# page, Return on the others, the finish page's "Start" box left ticked.
start_window_manager
setup_window() # the installer's window or box; its title ends in the page's name
{
    local w
    for w in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
        [[ "$(xdotool getwindowname "$w" 2>/dev/null)" == "Zelvor Updater $version Setup"* ]] && { echo "$w"; return 0; }
    done
    return 1
}
has_setup_window() { setup_window >/dev/null; }
program_window() # the main window of the installed program, whoever started it
{
    local w
    for w in $(xdotool search --onlyvisible --name 'Zelvor Updater' 2>/dev/null); do
        [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$MAIN_TITLE" ] && { echo "$w"; return 0; }
    done
    return 1
}
program_up() { program_window >/dev/null; }
start_program "$wine" "$installer"
installer_pid=$app_pid
wait_for 30 "the installer's window" has_setup_window
screenshot "$TEST_NAME-welcome-page"
windows_installer_id=$(processes | awk -v name="$(basename "$installer")" '$1 == name {print $3}')
[ -n "$windows_installer_id" ] || fail "the installer is not in Windows' process list: $(processes)"
end=$((SECONDS + 60))
until program_up; do
    [ "$SECONDS" -ge "$end" ] && fail "the program did not start from the finish page"
    window=$(setup_window) && press "$window" alt+a Return
    within 2 program_up
done
wait_for 20 "the installer to end" program_ended
wait "$installer_pid"
code=$?
[ "$code" = 0 ] || fail "the installer ended with exit code $code"
installed_as_built "the install through the pages"
parent=$(processes | awk '$1 == "ZelvorUpdater.exe" {print $2}')
[ -n "$parent" ] && [ "$parent" != "$windows_installer_id" ] ||
    fail "the program was started by the installer itself (its parent: '$parent', the installer: $windows_installer_id)"
screenshot "$TEST_NAME-started-from-finish-page"
program_pid=$(xdotool getwindowpid "$(program_window)")
echo "installed through the pages; the finish page started the program through the shell (its parent $parent, the installer $windows_installer_id)"

# While it runs.
silent "$installer" /S $EXIT_RUNNING "the silent install while the program runs"
installed_as_built "after the install refused"
# In place (_?=, the rest of the command line unquoted: two arguments, joined by Wine with a
# space), so that its exit code is the uninstaller's.
silent "$folder/Uninstall.exe" /S '_?=C:\Program' 'Files\Zelvor\Updater' $EXIT_RUNNING "the silent uninstall while the program runs"
installed_as_built "after the uninstall refused"
for file in Uninstall.exe LICENSE.txt THIRD-PARTY-NOTICES.txt; do
    [ -f "$folder/$file" ] || fail "the refused uninstall removed $file"
done
[ -f "$shortcut" ] || fail "the refused uninstall removed the Start-menu entry"
start_program "$wine" "$installer"
wait_for 30 "the installer's question" has_setup_window
screenshot "$TEST_NAME-program-running-box"
press "$(setup_window)" Escape # Cancel
wait_for 20 "the installer to end on Cancel" program_ended
wait "$app_pid"
code=$?
[ "$code" = $EXIT_RUNNING ] || fail "Cancel on the installer's question ended it with exit code $code, expected $EXIT_RUNNING"
installed_as_built "after Cancel"
echo "with the program running: silent install and uninstall refused (exit code $EXIT_RUNNING), the installer asks; nothing changed"

# The program ends on its connect box's Exit, as its own tests check; then it goes.
app_pid=$program_pid
answer_box Escape
wait_for 20 "the program to end" program_ended
app_pid=""
"$wine" "$folder/Uninstall.exe" /S || fail "the silent uninstall ended with exit code $?"
# The uninstaller runs on from a copy of itself, so what it removes goes shortly after.
wait_for 60 "the uninstaller to remove everything" all_gone
[ ! -e "$drive_c/Program Files/Zelvor" ] || fail "an empty Zelvor folder was left in Program Files"
echo "PASS: upgrade, downgrade refused, install through the pages, refusals while running, silent uninstall left nothing"
cleanup
