#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Orlenta need.
# Idempotent: says nothing and changes nothing when everything is already there.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    libxxhash-dev              # the checksums of partial files (--partial, --merge)
    qt6-base-dev libre2-dev
    libarchive-dev libgmime-3.0-dev  # --unpack (archives, compressed files) and --mail (MIME)
    python3-distributed        # orlenta-cluster's engine (Dask), also its tests' local cluster
    libarchive-tools gzip xz-utils zstd bzip2 lz4 zip  # the unpack tests make their fixtures
    fonts-liberation           # Arial's metric-compatible substitute for the window's fonts
    xvfb xauth xdotool imagemagick  # the real-window check and screenshots
    clang libclang-rt-14-dev   # the fuzzer and the sanitizer build
    lintian appstream desktop-file-utils man-db  # the package test's checkers
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$package")
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Run as root (or: sudo apt-get install ${missing[*]})." >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
