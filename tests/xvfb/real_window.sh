#!/usr/bin/env bash
# The installed window program under a virtual X display, worked as a person would with
# xdotool: add a file through the Open dialog, press "Delete Duplicate Emails", save the list
# through the Save dialog. The saved bytes must equal orlenta-extract's on the same file.
#   real_window.sh BUILD_DIR SAMPLE_FILE SCREENSHOT.png
# Exits 77 (skipped) only when no virtual display can be started.
set -euo pipefail
build=$1
sample=$2
screenshot=$3

for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

scratch=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$scratch/usr" >"$scratch/install.log" 2>&1 \
    || { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }

number=90
while [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do number=$((number + 1)); done
export DISPLAY=":$number"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done
xdotool getdisplaygeometry >/dev/null 2>&1 || { echo "SKIP: Xvfb could not start"; exit 77; }

# A path without spaces, so it can be typed into the dialogs as it is.
input="$scratch/$(basename "$sample")"
cp "$sample" "$input"
out="$scratch/saved-list.txt"

QT_QPA_PLATFORM=xcb QT_QPA_PLATFORMTHEME= "$scratch/usr/bin/orlenta" >"$scratch/app.log" 2>&1 &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Orlenta$' | head -n 1)
[ -n "$window" ] || fail "the window did not appear"
sleep 0.5

# Button centres in window pixels (from the control table: twips / 15).
click() {
    xdotool mousemove --window "$window" "$1" "$2" click 1
}
# A dialog is the newest visible window other than the main one.
wait_for_dialog() {
    local title=$1 id=""
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || fail "the dialog \"$title\" did not open"
    xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus --sync "$id"
    sleep 0.3
    echo "$id"
}
type_path_and_enter() {
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 5 "$1"
    sleep 0.2
    xdotool key Return
}

click 68 133                       # Add File(s)
wait_for_dialog "Add File" >/dev/null
type_path_and_enter "$input"
sleep 0.5

click 244 165                      # Delete Duplicate Emails
sleep 1.5

import -window "$window" "$screenshot"

click 88 333                       # Save Results As List
wait_for_dialog "Save List" >/dev/null
type_path_and_enter "$out"
for _ in $(seq 50); do [ -s "$out" ] && break; sleep 0.1; done
[ -e "$out" ] || fail "the list was not saved (see $scratch/app.log)"

"$scratch/usr/bin/orlenta-extract" "$input" >"$scratch/expected.txt"
cmp "$scratch/expected.txt" "$out" || fail "the window saved other bytes than orlenta-extract writes"
[ -s "$out" ] || fail "no addresses were found in the sample"
echo "real window: $(wc -l <"$out") addresses saved, byte for byte as orlenta-extract; screenshot $screenshot"
