#!/usr/bin/env bash
# Checks a release zip from scripts/package.sh: exactly the program, the guide and the checksum
# file; the checksums hold; tidewell.exe is a 32-bit GUI program with its manifest (administrator
# rights, common controls 6) that imports only system DLLs; the guide is UTF-8 with a byte-order
# mark and CRLF line ends.
#
#   scripts/check-package.sh ZIP
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
zip=$(realpath "$1")
unpacked=$(mktemp -d "${TMPDIR:-/tmp}/tidewell-package.XXXXXX")
trap 'rm -rf "$unpacked"' EXIT
failed=0
fail() {
    echo "check-package: $*"
    failed=1
}

guide=Tidewell-UserGuide-zh.txt
listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
expected=$(printf '%s\n' SHA256SUMS.txt "$guide" tidewell.exe | sort | tr '\n' ' ')
[[ $listed == "$expected" ]] || fail "the zip holds '$listed', expected '$expected'"
unzip -q "$zip" -d "$unpacked"
cd "$unpacked"

(sha256sum --quiet -c SHA256SUMS.txt) || fail "the checksums do not match"
[[ $(wc -l <SHA256SUMS.txt) -eq 2 ]] || fail "SHA256SUMS.txt does not list both files"

dump=$(x86_64-w64-mingw32-objdump -p tidewell.exe)
grep -q 'file format pei-i386$' <<<"$dump" || fail "tidewell.exe is not a 32-bit program"
grep -q '^Subsystem[[:space:]]*00000002' <<<"$dump" || fail "tidewell.exe is not a GUI program"
grep -q 'requireAdministrator' tidewell.exe || fail "tidewell.exe has no manifest asking for administrator rights"
grep -q 'Microsoft.Windows.Common-Controls' tidewell.exe || fail "tidewell.exe's manifest does not name common controls 6"
bash "$root/scripts/check-imports.sh" pei-i386 "$unpacked" >/dev/null || fail "tidewell.exe imports more than system DLLs"

[[ $(head -c 3 "$guide" | od -An -tx1 | tr -d ' ') == efbbbf ]] || fail "the guide has no byte-order mark"
[[ $(grep -c $'[^\r]$\|^$' "$guide") -eq 0 ]] || fail "the guide has lines without CRLF"
iconv -f UTF-8 -t UTF-16LE "$guide" >/dev/null || fail "the guide is not UTF-8"
grep -q '恢复说明.txt' "$guide" || fail "the guide does not explain the restore note"

if ((failed)); then
    exit 1
fi
echo "check-package: $(basename "$zip"): tidewell.exe (PE32 GUI, manifest, system DLLs only), $guide, SHA256SUMS.txt"
