#!/usr/bin/env bash
# Takes a picture of the window as it opens, under a virtual display of its own.
#   scripts/screenshot.sh BUILD_DIR OUT.png
# Needs Xvfb, xdotool and ImageMagick (scripts/install-deps.sh installs them).
set -euo pipefail

build=${1:-build}
out=${2:-docs/screenshot.png}
app="$build/app/orlenta"

if [ ! -x "$app" ]; then
    echo "There is no $app: build first (make build)." >&2
    exit 1
fi
for tool in Xvfb xdotool import convert; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done

# A display number nobody uses.
number=99
while [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do
    number=$((number + 1))
done
display=":$number"

xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    DISPLAY=$display xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done

DISPLAY=$display QT_QPA_PLATFORM=xcb "$app" >/dev/null 2>&1 &
app_pid=$!

window=$(DISPLAY=$display timeout 20 xdotool search --sync --onlyvisible --name '^Orlenta$' | head -n 1)
if [ -z "$window" ]; then
    echo "The window did not appear." >&2
    exit 1
fi
sleep 1  # let it paint

mkdir -p "$(dirname "$out")"
DISPLAY=$display import -window "$window" "$out"
echo "Saved $out ($(identify -format '%wx%h' "$out"))"
