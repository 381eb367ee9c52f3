#!/usr/bin/env bash
# Checks a release zip from scripts/package.sh: exactly the program, the guide and the checksum
# file; the checksums hold; tidewell.exe is a 32-bit GUI program with its manifest (administrator
# rights, common controls 6) that imports only system DLLs; the guide is UTF-8 with a byte-order
# mark and CRLF line ends. Then it starts the zip's tidewell.exe once under Wine (a throwaway
# prefix), waits for its window, reads its title and closes it.
#
#   scripts/check-package.sh ZIP
#
# The window is read with the win32-release build's tidewell-probe.exe (TIDEWELL_BUILD_ROOT as
# for scripts/package.sh).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_root=${TIDEWELL_BUILD_ROOT:-$root/build}
probe=$build_root/win32-release/tools/probe/tidewell-probe.exe

# --- Inside the booted prefix (the script calls itself through the harness): prints the title.
if [[ ${1:-} == --inside ]]; then
    program=$2
    window_probe=$3
    wine64=${TIDEWELL_WINE64:-/usr/lib/wine/wine64}
    probe() { "$wine64" "$window_probe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
    # Where a user would unpack it, away from the build tree on drive Z:.
    mkdir -p "$WINEPREFIX/drive_c/Tidewell"
    cp "$program" "$WINEPREFIX/drive_c/Tidewell/tidewell.exe"
    (cd "$WINEPREFIX/drive_c/Tidewell" &&
        exec "$wine64" 'C:\Tidewell\tidewell.exe' </dev/null >/dev/null 2>&1) &
    running=$!
    status=0
    if probe wait-window 60 >/dev/null; then
        probe title
        probe close >/dev/null || status=1
    else
        echo "no window"
        status=1
    fi
    for _ in $(seq 1 100); do
        kill -0 "$running" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$running" 2>/dev/null; then
        echo "still running after its window was closed"
        status=1
    fi
    exit "$status"
fi

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

# One start of the shipped program, as a user on 64-bit Windows gets it.
version=$(sed -n 's/^project(Tidewell VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
expected_title="Tidewell | Marrowby | v$version"
started_note="started under Wine: window '$expected_title'"
if no_32bit=$(bash "$root/scripts/wine/runs-32bit.sh"); [[ -n $no_32bit ]]; then
    started_note="NOT started: $no_32bit"
elif [[ ! -f $probe ]]; then
    fail "no $probe to read the window with (build the win32-release preset)"
else
    started=$(bash "$root/scripts/wine/with-prefix.sh" bash "$root/scripts/check-package.sh" \
        --inside "$unpacked/tidewell.exe" "$probe" 2>"$unpacked/wine.log") || true
    if [[ $started != "$expected_title" ]]; then
        fail "tidewell.exe started under Wine shows '$started', expected the window '$expected_title'"
        cat "$unpacked/wine.log"
    fi
fi

if ((failed)); then
    exit 1
fi
echo "check-package: $(basename "$zip"): tidewell.exe (PE32 GUI, manifest, system DLLs only;" \
    "$started_note), $guide, SHA256SUMS.txt"
