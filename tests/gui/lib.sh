# Shared helpers of the window tests: a window manager, the program under test, waits with a
# time-out (never a bare sleep), clicks and keys through xdotool, screenshots on failure.
# Sourced by the test scripts; they set TEST_NAME first.
set -u

ARTEFACTS=${ZELVOR_GUI_ARTEFACTS:-${TMPDIR:-/tmp}/zelvor-gui-artefacts}
mkdir -p "$ARTEFACTS"
WORK=$(mktemp -d)
# The main window's title, as the build wrote it (ZELVOR_BUILD_DIR: the build folder).
MAIN_TITLE=$(cat "${ZELVOR_BUILD_DIR:-}/window-title.txt" 2>/dev/null) ||
    { echo "no window-title.txt in ZELVOR_BUILD_DIR '${ZELVOR_BUILD_DIR:-}'"; exit 1; }
app_pid=""
wm_pid=""

screenshot() # name
{
    import -window root "$ARTEFACTS/$1.png" 2>/dev/null && echo "screenshot: $ARTEFACTS/$1.png"
}

cleanup()
{
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    if [ -n "$wm_pid" ]; then
        kill "$wm_pid" 2>/dev/null
        wait "$wm_pid" 2>/dev/null
    fi
    rm -rf "$WORK"
}

# The program's visible windows, one line each: id, geometry, title.
describe_windows()
{
    local w
    for w in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
        echo "window $w $(xwininfo -id "$w" 2>/dev/null | awk '/Absolute upper-left X|Absolute upper-left Y|Width:|Height:/ {printf "%s ", $NF}')'$(xdotool getwindowname "$w" 2>/dev/null)'"
    done
}

fail()
{
    echo "FAIL ($TEST_NAME): $*"
    screenshot "$TEST_NAME-failure"
    [ -n "$app_pid" ] && describe_windows
    if [ -f "$WORK/out" ]; then
        echo "--- program stdout"
        cat "$WORK/out"
    fi
    [ -f "$WORK/err" ] && [ -n "${ZELVOR_GUI_ARTEFACTS:-}" ] && cp "$WORK/err" "$ZELVOR_GUI_ARTEFACTS/program.err"
    if [ -f "$WORK/err" ]; then
        echo "--- program stderr (last lines)"
        grep -v '^DBG$' "$WORK/err" | tail -n 20
    fi
    cleanup
    exit 1
}

# within SECONDS COMMAND...: polls the command until it succeeds; false once the time is up.
within()
{
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -ge "$end" ] && return 1
        sleep 0.1
    done
}

# steady SECONDS PAUSE COMMAND...: prints the command's output once two runs PAUSE apart agree (a
# window that the window manager is still placing or sizing changes between them); false once
# the time is up.
steady()
{
    local end=$((SECONDS + $1)) pause=$2 now last=""
    shift 2
    while [ "$SECONDS" -lt "$end" ]; do
        now=$("$@" 2>/dev/null)
        [ -n "$now" ] && [ "$now" = "$last" ] && { echo "$now"; return 0; }
        last=$now
        sleep "$pause"
    done
    return 1
}

# wait_for SECONDS DESCRIPTION COMMAND...: polls the command until it succeeds.
wait_for()
{
    local limit=$1 what=$2
    shift 2
    within "$limit" "$@" || fail "timed out after ${limit}s waiting for $what"
}

start_window_manager()
{
    [ -n "${DISPLAY:-}" ] || fail "no X display (run under xvfb-run)"
    for tool in openbox wmctrl xdotool xwininfo xprop import; do
        command -v "$tool" >/dev/null || fail "$tool is not installed"
    done
    # A window manager that a test before this one left exiting can refuse to start: start it
    # again while time is left. One that is still starting is given the time: in a USB machine
    # under a loaded host it has taken longer than 5 s.
    local end=$((SECONDS + 60))
    while [ "$SECONDS" -lt "$end" ]; do
        openbox --replace >/dev/null 2>&1 &
        wm_pid=$!
        while kill -0 "$wm_pid" 2>/dev/null && [ "$SECONDS" -lt "$end" ]; do
            wmctrl -m >/dev/null 2>&1 && return 0
            sleep 0.1
        done
        wait "$wm_pid" 2>/dev/null
        sleep 0.2
    done
    kill "$wm_pid" 2>/dev/null
    wait "$wm_pid" 2>/dev/null
    fail "the window manager did not start"
}

# start_program PROGRAM ARGS...: stdout goes to $WORK/out, stderr to $WORK/err.
start_program()
{
    "$@" >"$WORK/out" 2>"$WORK/err" &
    app_pid=$!
}

# The program's visible top-level window with exactly this title.
window_titled() # title
{
    local w
    for w in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
        [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
    done
    return 1
}

has_window() { window_titled "$1" >/dev/null; }
no_window() { ! window_titled "$1" >/dev/null; }

# A box: a visible window of the program that is neither of its known windows, nor one of the
# 12-pixel strips that JUCE's drop shadows are on Windows.
box_window()
{
    local w name info
    for w in $(xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
        name=$(xdotool getwindowname "$w" 2>/dev/null) || continue
        case "$name" in
            "$MAIN_TITLE" | "Virtual Zelvor" | "Virtual Zelvor 2" | "Firmware Updater") ;;
            *)
                info=$(xwininfo -id "$w" 2>/dev/null) || continue
                echo "$info" | grep -q 'IsViewable' || continue
                echo "$info" | awk '/Width:|Height:/ { if ($2 < 40) small = 1 } END { exit small }' || continue
                echo "$w"
                return 0
                ;;
        esac
    done
    return 1
}

has_box() { box_window >/dev/null; }
no_box() { ! box_window >/dev/null; }

# Lines the demo tells on stdout ("box: ...", "answer: ...", "progress: ...").
said() { grep -qF -- "$1" "$WORK/out"; }
count_said() { grep -cF -- "$1" "$WORK/out"; }

click_at() # window x y (inside the window's client area)
{
    xdotool mousemove --window "$1" "$2" "$3" click 1
}

press() # window keys...
{
    local w=$1
    shift
    # --sync waits for ever on a window that never becomes active (Wine may have replaced it).
    timeout 10 xdotool windowactivate --sync "$w" >/dev/null 2>&1 || timeout 10 xdotool windowfocus --sync "$w" >/dev/null 2>&1
    xdotool key --clearmodifiers "$@"
}

# True once the program has told the line more than N times, within the seconds given.
told_within() # seconds n line
{
    within "$1" said_more "$2" "$3"
}
said_more() { [ "$(count_said "$2")" -gt "$1" ]; } # n line

# A deliberate key on a window that drops keys for its first moments (the progress window):
# pressed again each second until the program tells what it did, as a person would.
press_until() # seconds, window, key, what the program tells
{
    local end=$((SECONDS + $1)) n
    n=$(count_said "$4")
    until [ "$SECONDS" -ge "$end" ]; do
        has_window_id "$2" && press "$2" "$3"
        told_within 1 "$n" "$4" && return 0
    done
    fail "timed out after $1s waiting for '$4' after $3"
}
has_window_id() { xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable'; }

# Answers the box that is up: waits for it, then presses the key on it, and again each few
# seconds while that box is still up (a box that has just appeared may not have the focus yet).
answer_box() # key
{
    wait_for 30 "a box" has_box
    # Patient, as a person is with a slow machine: a loaded one (the USB machine under Wine, say)
    # can take a while to take the key.
    local box end=$((SECONDS + 60))
    box=$(box_window) || fail "the box went away"
    until box_closed "$box"; do
        [ "$SECONDS" -ge "$end" ] && fail "timed out waiting for the box to close"
        press "$box" "$1"
        within 3 box_closed "$box"
    done
}

# (xwininfo given no id waits for a click on a window: an empty id must never reach it)
box_closed() { [ -z "$1" ] || ! has_window_id "$1"; }

program_ended() { ! kill -0 "$app_pid" 2>/dev/null; }

# Waits for the program to end and checks its exit code.
expect_exit() # code
{
    wait_for 20 "the program to quit" program_ended
    wait "$app_pid"
    local code=$?
    app_pid=""
    [ "$code" -eq "$1" ] || fail "exit code $code, expected $1"
}

# A fingerprint of what a rectangle of a window shows.
region_hash() # window x y width height
{
    import -window "$1" -crop "$4x$5+$2+$3" +repage -depth 8 rgb:- 2>/dev/null | md5sum | cut -d' ' -f1
}

# The demo program of a build folder.
demo_in() { ls "$1"/demo/ZelvorUpdaterDemo_artefacts/*/ZelvorUpdaterDemo 2>/dev/null | head -n 1; }

# load_layout DEMO: where the buttons of the program's windows lie, as the demo tells them
# (`--layout`); centre NAME then gives a button's centre in its window ("X Y").
declare -A LAYOUT
load_layout()
{
    local line name
    line=$("$1" --layout 2>&1) || fail "the demo did not tell its layout: $line"
    while read -r _ name x y w h; do
        LAYOUT[$name]="$x $y $w $h"
    done <<<"$(echo "$line" | grep '^layout: ')" # a here-string: the USB machine has no /dev/fd
    for name in update-all open-qex update-qex open-dsp update-dsp unit-plug unit-power unit-hold; do
        [ -n "${LAYOUT[$name]:-}" ] || fail "the demo's layout has no $name: $line"
    done
}
centre() { local x y w h; read -r x y w h <<<"${LAYOUT[$1]}"; echo "$((x + w / 2)) $((y + h / 2))"; }

# True once the demo has told the line at least N times.
said_times() # N line
{
    [ "$(count_said "$2")" -ge "$1" ]
}
