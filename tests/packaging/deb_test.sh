#!/usr/bin/env bash
# The Debian packages as a user gets them: the program's package and its debug symbols'
# (zelvor-updater-dbgsym), their contents and metadata, lintian, the AppStream metadata, then
# the program's package installed with apt-get on this machine, the installed updater started
# under Xvfb (its window and connect box, as in the window tests; its window class against the
# desktop entry; its exit codes against the man page), and removed again without leaving its
# files behind. Needs root or sudo.
# usage: deb_test.sh PACKAGE.deb... (the build's packages/*.deb: the program's and its symbols')
set -u
here=$(dirname "$0")
name=zelvor-updater
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
problems=0

fail()
{
    echo "FAIL (deb): $*"
    exit 1
}

# A fault that does not stop the other checks, so that one run tells them all.
problem()
{
    echo "FAIL (deb): $*"
    problems=$((problems + 1))
}

deb=""
dbgsym=""
for file in "$@"; do
    [ -f "$file" ] || fail "no package at $file"
    case "$(dpkg-deb -f "$file" Package)" in
        "$name") deb=$(realpath "$file") ;;
        "$name-dbgsym") dbgsym=$(realpath "$file") ;;
        *) fail "$file is neither $name nor $name-dbgsym" ;;
    esac
done
[ -n "$deb" ] || fail "no $name package among: $*"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
    sudo -n true 2>/dev/null || { echo "SKIPPED (deb): installing the package needs root or sudo"; exit 0; }
    as_root=(sudo -n)
fi
version=$(dpkg-deb -f "$deb" Version)
upstream_version=${version%-*}

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
metainfo=$(grep -E '^\./usr/share/metainfo/[^/]+\.metainfo\.xml$' "$work/contents")
[ "$(echo "$metainfo" | grep -c .)" = 1 ] || problem "not one AppStream file in /usr/share/metainfo: '$metainfo'"
appstream_id=$(basename "$metainfo" .metainfo.xml)
grep -E '^\./usr/(bin|share)/' "$work/contents" | grep -vE "$name|/$" | grep -vxF "$metainfo" \
    && fail "files of other programs are in the package"

dpkg-deb -x "$deb" "$work/root"
desktop="$work/root/usr/share/applications/$name.desktop"
desktop-file-validate "$desktop" || fail "the .desktop entry does not validate"
grep -qx "Exec=$name" "$desktop" || fail "the .desktop entry does not start $name"
# JUCE never tells the desktop that the program has started, so a startup notification would
# only show a busy cursor until it times out.
grep -qx "StartupNotify=false" "$desktop" || problem "the .desktop entry does not say StartupNotify=false"
for size in 16 48 256; do
    identify -format '%wx%h' "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/$name.png" | grep -qx "${size}x${size}" \
        || fail "the ${size}x${size} icon has another size"
done
man_source=$(zcat "$work/root/usr/share/man/man1/$name.1.gz")
echo "$man_source" | grep -q '^\.SH NAME' || fail "the man page has no NAME section"
man -l "$work/root/usr/share/man/man1/$name.1.gz" 2>&1 >/dev/null | grep . && fail "the man page has formatting warnings"
echo "$man_source" | sed -n '/^\.SH EXIT STATUS/,/^\.SH [^E]/p' >"$work/exit-status"
# the man page's entry for an exit code: the text after its ".B CODE" tag
exit_code_told() { grep -qE "^\.B $1( |$)" "$work/exit-status"; }
for code in 0 1 128; do
    exit_code_told $code || problem "the man page's EXIT STATUS has no entry for $code"
done

# Built with Debian's hardening flags and stripped as Debian strips.
program="$work/root/usr/bin/$name"
file -b "$program" | grep -q ', stripped' || problem "the program is not stripped"
readelf -h "$program" | grep -q 'Type: *DYN' || problem "the program is not position-independent"
readelf -lW "$program" | grep -q GNU_RELRO || problem "the program has no RELRO segment"
readelf -dW "$program" | grep -qE '\(FLAGS_1\).* NOW|\(BIND_NOW\)' || problem "the program is not linked with -z now"
readelf --dyn-syms -W "$program" | grep -qE ' __[a-z_]+_chk(@|$)' || problem "the program calls no fortified functions (_FORTIFY_SOURCE)"
readelf --dyn-syms -W "$program" | grep -q ' __stack_chk_fail' || problem "the program has no stack protector"
readelf -SW "$program" | grep -qE ' \.comment ' && problem "the program keeps its .comment section"
build_id=$(readelf -nW "$program" | sed -n 's/.*Build ID: \([0-9a-f]*\).*/\1/p')
[ -n "$build_id" ] || problem "the program has no build id"
readelf -SW "$program" | grep -q ' \.gnu_debuglink ' || problem "the program has no link to its debug file"

# Its debug symbols, where gdb finds them by the build id.
if [ -z "$dbgsym" ]; then
    problem "no $name-dbgsym package among: $*"
else
    dpkg-deb -x "$dbgsym" "$work/dbgsym"
    debug_file="$work/dbgsym/usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug"
    [ -f "$debug_file" ] || problem "the dbgsym package has no usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug"
    [ "$(dpkg-deb -f "$dbgsym" Depends)" = "$name (= $version)" ] \
        || problem "$name-dbgsym does not depend on $name (= $version): $(dpkg-deb -f "$dbgsym" Depends)"
    where=$(gdb -batch -nx -iex "set debug-file-directory $work/dbgsym/usr/lib/debug" \
                -ex "info line zelvor::ZelvorApplication::initialise" "$program" 2>&1)
    echo "$where" | grep -q 'app/ZelvorApplication.cpp' \
        || problem "gdb does not find the program's source lines through the dbgsym package: $where"
fi

# lintian, pedantic and with its experimental tags, on both packages at once (so that it can
# follow the dbgsym package's /usr/share/doc link into the program's package): no error or
# warning, nor any other tag. Tags the package overrides (/usr/share/lintian/overrides, each
# with its reason) are shown as O: and pass.
lintian --pedantic --display-info --display-experimental --show-overrides --fail-on none \
        "$deb" ${dbgsym:+"$dbgsym"} >"$work/lintian" 2>"$work/lintian-errors" \
    || { cat "$work/lintian-errors"; fail "lintian did not run"; }
cat "$work/lintian"
while read -r kind package tag _; do
    case "$kind" in
        E: | W: | I: | P: | X:) problem "lintian: $kind $package $tag" ;;
    esac
done <"$work/lintian"

# The licences of what is compiled in, and its complete source in the package.
copyright="$work/root/usr/share/doc/$name/copyright"
archive_name=$(sed -n 's/^Source: \([^ ]*\.tar\.xz\) in \/usr\/share\/doc\/.*/\1/p' "$copyright")
archive="$work/root/usr/share/doc/$name/$archive_name"
if [ -z "$archive_name" ] || [ ! -f "$archive" ]; then
    problem "the copyright file names no source archive in /usr/share/doc/$name (Source: '$archive_name')"
else
    tar -tJf "$archive" >"$work/archive"
    top=$name-$upstream_version
    grep -qx "$top/CMakeLists.txt" "$work/archive" || problem "the source archive holds no $top/CMakeLists.txt"
    modules=$(sed -n "s|^$top/juce-modules/\([^/]*\)/$|\1|p" "$work/archive")
    [ -n "$modules" ] || problem "the source archive holds no JUCE modules"
    # every module compiled in has its own paragraph, and GPL-3 where it allows no later version
    for module in $modules; do
        awk -v pattern="juce-modules/$module/*" '
            /^Files:/ { files = 1; found = 0 }
            files && index($0, pattern) { found = 1 }
            /^License:/ { if (found) print $2; files = 0; found = 0 }' "$copyright" >"$work/licence"
        grep -q . "$work/licence" || problem "the copyright file has no Files paragraph for the JUCE module $module"
    done
    grep -qE '^License: GPL-3$' "$copyright" || problem "the copyright file says nowhere that a part is GPL-3 only"
fi

# The AppStream metadata, tied to the desktop entry and to this release. Without the network:
# its home page and screenshots are placeholders under .invalid, which never resolves. It tells
# one info, which does not fail it: cid-maybe-not-rdns, as its list of top-level domains lacks
# .invalid (the id is the project's domain zelvor.invalid reversed).
if [ -n "$metainfo" ]; then
    appstreamcli validate --pedantic --no-net "$work/root/$metainfo" || problem "the AppStream metadata does not validate"
    xpath() { xmllint --xpath "string($1)" "$work/root/$metainfo"; }
    [ "$(xpath /component/id)" = "$appstream_id" ] || problem "the AppStream id is not the file's name $appstream_id"
    [ "$(xpath '/component/launchable[@type="desktop-id"]')" = "$name.desktop" ] \
        || problem "the AppStream metadata does not launch $name.desktop"
    [ "$(xpath '/component/releases/release[1]/@version')" = "$upstream_version" ] \
        || problem "the AppStream metadata's release is not $upstream_version"
    zcat "$work/root/usr/share/doc/$name/changelog.Debian.gz" >"$work/changelog"
    changelog_date=$(date -u -d "$(dpkg-parsechangelog -l "$work/changelog" -S Date)" +%F)
    [ "$(xpath '/component/releases/release[1]/@date')" = "$changelog_date" ] \
        || problem "the AppStream release's date is not the changelog's $changelog_date"
fi

depends=$(dpkg-deb -f "$deb" Depends)
for dep in libc6 libstdc++6 libasound2 libfreetype6 libpng16-16 libjpeg62-turbo libx11-6 libxext6 fonts-dejavu-core; do
    echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qxF "$dep" || fail "Depends lacks $dep: $depends"
done
[ "$problems" -eq 0 ] && echo "contents, metadata, lintian, AppStream: ok (Depends: $depends)"

# Installed, run, removed.
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q "$deb" >"$work/install.log" 2>&1 \
    || { cat "$work/install.log"; fail "apt-get install failed"; }
[ "$(command -v $name)" = "/usr/bin/$name" ] || fail "$name is not on the PATH after the install"
dpkg-query -W -f='${Status}' $name | grep -q "install ok installed" || fail "dpkg does not list the package as installed"

# The title the window should have is the one the build of the package wrote (BUILD/packages/*.deb).
export ZELVOR_BUILD_DIR=${ZELVOR_BUILD_DIR:-$(dirname "$(dirname "$deb")")}
TEST_NAME=deb-installed xvfb-run -a -s "-screen 0 1280x800x24" "$here/../gui/product_test.sh" "/usr/bin/$name" \
    || fail "the installed updater did not behave"
# The window's class is the one the desktop entry tells docks to look for; the run ends on
# SIGTERM, whose exit code the man page tells.
wm_class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
TEST_NAME=deb-window-class xvfb-run -a -s "-screen 0 1280x800x24" "$here/window_class_test.sh" "/usr/bin/$name" "$wm_class" \
    >"$work/window-class.log" 2>&1
code=$?
cat "$work/window-class.log"
[ "$code" -eq 0 ] || problem "the installed updater's window class is not the desktop entry's StartupWMClass '$wm_class'"
# Without a display it says so and ends with the code the man page gives for it.
env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/$name >/dev/null 2>&1 </dev/null
code=$?
exit_code_told $code || problem "the man page's EXIT STATUS has no entry for $code, the exit code without a display"

DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get remove -y -q --purge $name >"$work/remove.log" 2>&1 \
    || { cat "$work/remove.log"; fail "apt-get remove failed"; }
left=$(grep -E '^\./usr/' "$work/contents" | sed 's/^\.//' | while read -r path; do
    [ -f "$path" ] && echo "$path"
done)
[ -z "$left" ] || fail "files left after removal: $left"
dpkg-query -W -f='${Status}' $name 2>/dev/null | grep -q "installed" && fail "dpkg still lists the package"
[ "$problems" -eq 0 ] || fail "$problems problems (above)"
echo "PASS: $(basename "$deb") ($(basename "${dbgsym:-no dbgsym}")) checked, installed with apt-get, started under Xvfb, removed cleanly"
