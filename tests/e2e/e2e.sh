#!/usr/bin/env bash
# End-to-end test: the built program in a real X server (Xvfb, no window
# manager), driven only through the server with xdotool — pointer moves,
# clicks and typed text — the way a user would. On a private D-Bus session
# bus, a screen reader's view is checked as well: the accessibility tree
# over AT-SPI (tests/e2e/atspi.py) of the windows, the folder dialog and the
# About box, the focus events of the name lists' menu, and the About box is
# opened by pressing its button through AT-SPI.
#
#   e2e.sh QEVRA OUTPUT-DIR CLOSE-WINDOW
#
# QEVRA is the program, OUTPUT-DIR receives a screenshot of every step and
# the program's output, CLOSE-WINDOW is the helper that asks a window to
# close as a window manager's close button does.
#
# Exit status: 0 passed, 1 failed, 77 skipped (no X server could be started).
set -uo pipefail

if [ $# -ne 3 ]; then
    echo "usage: e2e.sh QEVRA OUTPUT-DIR CLOSE-WINDOW" >&2
    exit 2
fi
program=$1
out=$2
close_window=$3

# Assistive tools reach the program over AT-SPI, which lives on a D-Bus
# session bus: the test runs on a private one, so that it sees this program
# only. Without one (no dbus-run-session, or it cannot start a bus), the
# AT-SPI checks are skipped and said so.
if [ -z "${QEVRA_E2E_BUS:-}" ]; then
    if command -v dbus-run-session >/dev/null && dbus-run-session -- true 2>/dev/null; then
        export QEVRA_E2E_BUS=private
        exec dbus-run-session -- bash "$0" "$@"
    fi
    export QEVRA_E2E_BUS=none
fi

# A real X server, not the headless platform the other tests use.
unset QT_QPA_PLATFORM WAYLAND_DISPLAY XAUTHORITY
# The window titles are Russian: the program writes them, and xdotool reads
# them, in the locale's character set, so both run in a UTF-8 locale, as on a
# desktop, even when the test itself is started in the POSIX locale.
export LC_ALL=C.UTF-8
# A sanitizer build: leaks inside the platform libraries are not this test's
# business, errors are.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.log
work=$(mktemp -d /tmp/qevra-e2e.XXXXXX)
xvfb_pid=
qevra_pid=
shot_number=0

note() { echo "e2e: $*"; }

# A screenshot of the whole screen, numbered in step order.
shot() {
    shot_number=$((shot_number + 1))
    local file
    file=$(printf '%s/%02d-%s.png' "$out" "$shot_number" "$1")
    if [ -n "${DISPLAY:-}" ] && import -window root "$file" 2>/dev/null; then
        note "screenshot $file"
    fi
}

fail() {
    echo "e2e: FAIL: $*" >&2
    shot failure
    if [ -n "$xvfb_pid" ] && ! kill -0 "$xvfb_pid" 2>/dev/null; then
        echo "e2e: the X server has ended; its output:" >&2
        tail -n 20 "$out/xvfb.log" >&2
    fi
    if [ -s "$out/qevra.log" ]; then
        echo "e2e: the program's output:" >&2
        tail -n 40 "$out/qevra.log" >&2
    fi
    echo "e2e: screenshots and logs are in $out" >&2
    exit 1
}

skip() {
    echo "e2e: SKIP: $*" >&2
    exit 77
}

cleanup() {
    [ -n "$qevra_pid" ] && kill "$qevra_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Runs COMMAND every 0.1 s until it succeeds; false after SECONDS.
poll() {
    local seconds=$1
    shift
    local tries=$((seconds * 10))
    while [ "$tries" -gt 0 ]; do
        "$@" && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}

# The id of the visible top-level window titled exactly TITLE, if any.
window_id() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}
is_shown() { [ -n "$(window_id "$1")" ]; }
is_gone() { [ -z "$(window_id "$1")" ]; }

# Waits for the window titled TITLE and prints its id.
wait_window() {
    local title=$1 seconds=$2
    poll "$seconds" is_shown "$title" || return 1
    window_id "$title"
}

# Sets X Y WIDTH HEIGHT to the window's place on the screen. Without a window
# manager there is no frame: this is the client area itself.
geometry() {
    local WINDOW SCREEN # also set by the output, unused
    eval "$(xdotool getwindowgeometry --shell "$1")"
    : "$WINDOW" "$SCREEN"
}

# Clicks at X Y inside window ID (client coordinates).
click_in() {
    local id=$1 dx=$2 dy=$3 X Y WIDTH HEIGHT
    geometry "$id"
    xdotool mousemove --sync $((X + dx)) $((Y + dy)) click 1
    sleep 0.3
}

# Clicks the middle of the control at LEFT TOP WIDTH HEIGHT in window ID.
press() {
    click_in "$1" $(($2 + $4 / 2)) $(($3 + $5 / 2))
}

# --- The X server -----------------------------------------------------------

command -v Xvfb >/dev/null || skip "Xvfb is not installed, so no X server can be started"
for tool in xdotool import; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps installs it)"
done
[ -x "$program" ] || fail "no program at $program"
[ -x "$close_window" ] || fail "no close_window helper at $close_window"

# Xvfb chooses a free display itself and writes its number to descriptor 3.
# Without -noreset the server resets whenever its last client leaves (here:
# the readiness check below), and a client that connects during the reset is
# turned away, which on a loaded machine made the program fail to start.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
display_known() { [ -s "$work/display" ] || ! kill -0 "$xvfb_pid" 2>/dev/null; }
poll 15 display_known
number=$(tr -dc 0-9 <"$work/display")
if [ -z "$number" ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
    cat "$out/xvfb.log" >&2
    skip "Xvfb could not be started"
fi
export DISPLAY=":$number"
poll 15 xdotool getdisplaygeometry >/dev/null 2>&1 ||
    skip "the X server on $DISPLAY does not answer"
note "X server on $DISPLAY"

# --- Assistive technology ----------------------------------------------------

atspi=()
if [ "$QEVRA_E2E_BUS" = private ]; then
    /usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' \
        2>/dev/null ||
        fail "python3-gi and gir1.2-atspi-2.0 are not installed (scripts/install-deps installs them)"
    atspi=(/usr/bin/python3 "$(dirname "$0")/atspi.py")
    # Qt's accessibility bridge starts when a screen reader says so; here
    # the checks below are the screen reader.
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
    note "AT-SPI checks on a private session bus"
else
    note "AT-SPI: SKIP: no D-Bus session bus could be started, so the accessibility tree is not checked"
fi

# Runs an AT-SPI check when there is a bus for it.
atspi_check() {
    [ ${#atspi[@]} -gt 0 ] || return 0
    "${atspi[@]}" "$@" || fail "AT-SPI check \"$*\" failed"
}

# --- The tree to search -----------------------------------------------------

tree=$work/tree
mkdir -p "$tree/a" "$tree/b" "$tree/c"
printf 'the same content\n' >"$tree/a/one.txt"
printf 'the same content\n' >"$tree/b/one.txt"
printf 'other, same size\n' >"$tree/c/two.txt"  # pairs by size, not by content
printf 'the same content\n' >"$tree/a/skip.log" # equal, but not a .txt

# --- The main window --------------------------------------------------------

# The trash is a folder of the test's own.
data=$work/data
XDG_DATA_HOME=$data XDG_CACHE_HOME=$work/cache "$program" >"$out/qevra.log" 2>&1 &
qevra_pid=$!
# The window appears, or the program has ended without one: no use waiting.
shown_or_ended() { is_shown 'Qevra' || ! kill -0 "$qevra_pid" 2>/dev/null; }
poll 60 shown_or_ended
main=$(window_id 'Qevra')
[ -n "$main" ] || fail "the main window \"Qevra\" did not appear"
geometry "$main"
note "main window $main: ${WIDTH}x$HEIGHT at $X,$Y"
if [ "$WIDTH" -ne 495 ] || [ "$HEIGHT" -ne 140 ]; then
    fail "the main window is ${WIDTH}x$HEIGHT, not 495x140"
fi
if command -v xprop >/dev/null; then
    icons=$(xprop -id "$main" _NET_WM_ICON | grep -c 'Icon (')
    [ "$icons" -ge 1 ] || fail "the main window has no icon (_NET_WM_ICON)"
    note "main window icon: $icons sizes"
fi
shot main

# Step 1: choose the tree's directory, the extension and the criterion.
press "$main" 8 8 105 25 # "Выбрать каталог"
dialog=$(wait_window 'Обзор папок' 15) || fail "the folder dialog \"Обзор папок\" did not appear"
shot folder-dialog
atspi_check folder
# A click into the tree gives the dialog the keyboard; Tab moves on to the
# line below the tree, where a full path can be typed.
geometry "$dialog"
click_in "$dialog" $((WIDTH / 2)) $((HEIGHT / 2))
xdotool key Tab
sleep 0.2
xdotool type --delay 20 "$tree"
sleep 0.3
shot path-typed
xdotool key Return
poll 10 is_gone 'Обзор папок' ||
    fail "the folder dialog stayed open after Enter: the typed path $tree was not accepted"

press "$main" 120 56 153 21 # the extension box
xdotool type --delay 20 txt
sleep 0.2
press "$main" 120 80 105 17 # "По содержанию"
shot criteria
atspi_check main "$tree"
press "$main" 256 8 121 25 # "Искать копии"

# Step 2: the copies editor; choose the first pair.
editor=$(wait_window 'Редактор копий' 60) ||
    fail "the copies editor \"Редактор копий\" did not appear after the search"
is_gone 'Qevra' || fail "the main window stays shown with the copies editor"
shot editor
click_in "$editor" $((16 + 20)) $((104 + 6)) # the first row of the name list
shot first-pair
atspi_check editor

# The walk takes sub-directories in the order the file system lists them
# (not sorted), so the first file of the pair is the one whose directory
# `ls -f` names first.
# shellcheck disable=SC2010 # ls -f is the one tool that keeps that order
first_dir=$(ls -f "$tree" | grep -x -m 1 -e a -e b)
if [ "$first_dir" = a ]; then copy_dir=b; else copy_dir=a; fi
first=$first_dir/one.txt
file_gone() { [ ! -e "$1" ]; }
file_back() { [ -e "$1" ]; }

# Step 3: the name list's menu moves the first file to the trash, and
# Ctrl+Z brings it back. The menu opens at the pointer; three Downs choose its
# third item, "Переместить в корзину" (the AT-SPI check presses the first, to
# hear the menu's first item take the focus).
geometry "$editor"
xdotool mousemove --sync $((X + 16 + 20)) $((Y + 104 + 6)) click 3
sleep 0.5
shot menu
if [ ${#atspi[@]} -gt 0 ]; then
    atspi_check menu
    xdotool key Down Down Return
else
    xdotool key Down Down Down Return
fi
poll 10 file_gone "$tree/$first" || fail "$first did not leave its place through the menu"
[ -f "$data/Trash/files/one.txt" ] || fail "$first is not in the trash folder $data/Trash/files"
grep -qx "Path=$tree/$first" "$data/Trash/info/one.txt.trashinfo" ||
    fail "the trash does not name $first as the file's place"
[ -e "$tree/$copy_dir/one.txt" ] || fail "$copy_dir/one.txt went to the trash too"
shot trashed
xdotool key ctrl+z
poll 10 file_back "$tree/$first" || fail "Ctrl+Z did not bring $first back from the trash"
[ -z "$(ls -A "$data/Trash/files")" ] || fail "the trash still holds a file after Ctrl+Z"
[ -z "$(ls -A "$data/Trash/info")" ] || fail "the trash still holds a .trashinfo after Ctrl+Z"
shot restored
note "$first went to the trash through the menu and came back with Ctrl+Z"

# Step 4: "Удалить" deletes exactly the first file of the pair; its copy stays.
press "$editor" 104 304 75 25 # "Удалить" of the first column
poll 10 file_gone "$tree/$first" ||
    fail "$first, the first file of the first pair, was not deleted"
shot deleted
for kept in "$copy_dir/one.txt" c/two.txt a/skip.log; do
    [ -e "$tree/$kept" ] || fail "$kept was deleted too"
done
note "$first deleted; $copy_dir/one.txt, c/two.txt and a/skip.log kept"

"$close_window" "$editor" || fail "could not ask the copies editor to close"
poll 10 is_gone 'Редактор копий' || fail "the copies editor did not close"
poll 10 is_shown 'Qevra' || fail "the main window did not come back after the copies editor closed"
main=$(window_id 'Qevra')
shot main-again
# The status bar docks at the bottom edge; its hint reaches a screen reader.
geometry "$main"
xdotool mousemove --sync $((X + 100)) $((Y + HEIGHT - 6))
atspi_check status "   Здесь отображаются все действия программы"

# Step 5: the About box, through its button's AT-SPI action when there is
# a bus, else with the pointer.
if [ ${#atspi[@]} -gt 0 ]; then
    atspi_check press "О программе"
else
    press "$main" 392 8 91 25 # "О программе"
fi
about=$(wait_window 'О программе' 15) || fail "the About box \"О программе\" did not appear"
shot about
atspi_check about
"$close_window" "$about" || fail "could not ask the About box to close"
poll 10 is_gone 'О программе' || fail "the About box did not close"

# Step 6: closing the main window ends the program, successfully.
"$close_window" "$main" || fail "could not ask the main window to close"
ended() { ! kill -0 "$qevra_pid" 2>/dev/null; }
poll 15 ended || fail "the program did not end within 15 s of closing its main window"
wait "$qevra_pid"
status=$?
qevra_pid=
shot closed
[ "$status" -eq 0 ] || fail "the program ended with status $status"
note "the program ended with status 0"
echo "e2e: PASS"
