#!/usr/bin/env bash
# Builds the release package: the win32-release preset's tidewell.exe, the user's guide as a
# Notepad-friendly text (UTF-8 with a byte-order mark, CRLF line ends) and a SHA-256 checksum
# file, zipped as build/package/Tidewell-<version>-win32.zip. Prints the zip's path.
#
#   scripts/package.sh
#
# TIDEWELL_BUILD_ROOT puts the build folders somewhere else than build/, as for scripts/test.sh.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
build_root=${TIDEWELL_BUILD_ROOT:-$root/build}
build=$build_root/win32-release
version=$(sed -n 's/^project(Tidewell VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
name=Tidewell-$version-win32
# ASCII names inside the zip: the zip folders of Windows 7 show UTF-8 names garbled.
guide=Tidewell-UserGuide-zh.txt

cmake --preset win32-release -B "$build" >/dev/null
cmake --build "$build" >/dev/null

stage=$build_root/package/$name
rm -rf "$stage" "$build_root/package/$name.zip"
mkdir -p "$stage"
cp "$build/src/app/tidewell.exe" "$stage/tidewell.exe"
{
    printf '\xEF\xBB\xBF'
    sed 's/\r$//; s/$/\r/' docs/user-guide-zh.md
} >"$stage/$guide"
(cd "$stage" && sha256sum tidewell.exe "$guide" >SHA256SUMS.txt)
# Fixed times and no extra attributes, so the same sources give the same zip.
touch -d "@$(git log -1 --format=%ct 2>/dev/null || echo 0)" "$stage"/*
(cd "$stage" && zip -q -X -D "../$name.zip" tidewell.exe "$guide" SHA256SUMS.txt)
echo "$build_root/package/$name.zip"
