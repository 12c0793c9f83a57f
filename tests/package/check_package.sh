#!/usr/bin/env bash
# Builds the .deb from a finished build folder, unpacks it into a scratch root and checks
# that everything is where it belongs, that the command-line tool starts from there, and that
# Debian's and the desktop's own checkers (lintian, appstreamcli, desktop-file-validate, man)
# find nothing to say.
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
for needed in libqt6widgets6 libqt6gui6 libqt6core6 libarchive13 fonts-liberation; do
    [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
metainfo=usr/share/metainfo/org.example.orlenta.metainfo.xml
for path in usr/bin/orlenta-extract usr/lib/orlenta/orlenta usr/lib/orlenta/HAND-M.CUR \
            usr/lib/orlenta/drag.ico usr/share/applications/orlenta.desktop \
            usr/share/icons/hicolor/scalable/apps/orlenta.svg "$metainfo" \
            usr/share/man/man1/orlenta.1.gz usr/share/man/man1/orlenta-extract.1.gz \
            usr/share/doc/orlenta/copyright usr/share/doc/orlenta/changelog.gz; do
    [ -e "$root/$path" ] || fail "$path is missing from the package"
done

# Debian's policy checker: no error, no warning (informational notes are allowed).
lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1 \
    || { cat "$scratch/lintian.log" >&2; fail "lintian found errors or warnings"; }
appstreamcli validate --no-net "$root/$metainfo" >"$scratch/appstream.log" 2>&1 \
    || { cat "$scratch/appstream.log" >&2; fail "appstreamcli rejects the metainfo file"; }
desktop=$(desktop-file-validate "$root/usr/share/applications/orlenta.desktop" 2>&1) \
    && [ -z "$desktop" ] || fail "desktop-file-validate: $desktop"

# The manual pages render without a warning, and the tool's page names every option --help does.
for page in orlenta orlenta-extract; do
    warnings=$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man warns about $page.1: $warnings"
done
manual=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/orlenta-extract.1.gz" 2>/dev/null)
for option in $("$root/usr/bin/orlenta-extract" --help | sed -n 's/^  \(-[-a-z]*\).*/\1/p'); do
    [ "$option" = "-" ] || grep -q -e "$option" <<<"$manual" || fail "the manual page lacks $option"
done

# Debian's copyright format, and a changelog whose newest entry is this version.
head -n 1 "$root/usr/share/doc/orlenta/copyright" \
    | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    || fail "the copyright file is not in Debian's machine-readable format"
package_version=$(dpkg-deb -f "$deb" Version)
zcat "$root/usr/share/doc/orlenta/changelog.gz" | head -n 1 | grep -q "^orlenta ($package_version) " \
    || fail "the changelog does not begin with version $package_version"
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

echo "package $(basename "$deb"): contents, links and dependencies as expected, lintian," \
     "appstreamcli, desktop-file-validate and man clean; $version"
