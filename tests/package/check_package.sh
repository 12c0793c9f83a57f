#!/usr/bin/env bash
# Builds the .deb from a finished build folder, unpacks it into a scratch root and checks
# that everything is where it belongs and that the command-line tool starts from there.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1) \
    || { cat "$scratch/cpack.log" >&2; fail "cpack could not build the package"; }
deb=$(ls "$scratch"/out/*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no .deb was made"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6gui6 libqt6core6 fonts-liberation; do
    [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for path in usr/bin/orlenta-extract usr/lib/orlenta/orlenta usr/lib/orlenta/HAND-M.CUR \
            usr/lib/orlenta/drag.ico usr/share/applications/orlenta.desktop \
            usr/share/icons/hicolor/scalable/apps/orlenta.svg; do
    [ -e "$root/$path" ] || fail "$path is missing from the package"
done
[ "$(readlink "$root/usr/bin/orlenta")" = "../lib/orlenta/orlenta" ] || fail "usr/bin/orlenta is not the link"

version=$("$root/usr/bin/orlenta-extract" --version)
[[ "$version" == "orlenta-extract "* ]] || fail "unexpected --version output: $version"

printf 'Write to ann@example.org or ANN@example.org.\r\n' >"$scratch/mail.txt"
"$root/usr/bin/orlenta-extract" "$scratch/mail.txt" >"$scratch/found.txt"
printf 'ann@example.org\r\n' | cmp -s - "$scratch/found.txt" || fail "installed tool gave: $(od -c "$scratch/found.txt")"

# The window program starts from the link in bin/ and keeps running until it is closed.
set +e
QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/orlenta" >"$scratch/window.log" 2>&1
status=$?
set -e
[ "$status" -eq 124 ] || { cat "$scratch/window.log" >&2; fail "the installed window program ended with status $status"; }

echo "package $(basename "$deb"): contents, links and dependencies as expected; $version"
