#!/usr/bin/env bash
# Starts the window from a build folder; without a display, says how to get one.
set -euo pipefail
build=${1:-build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "There is no display to show the window on (DISPLAY is not set)." >&2
    echo "Under a virtual display:  xvfb-run -a -s '-screen 0 1280x1024x24' $build/app/orlenta" >&2
    echo "Or without a window:       $build/cli/orlenta-extract samples/" >&2
    exit 1
fi
exec "$build/app/orlenta"
