#!/usr/bin/env bash
# Checks that the Windows programs under each build folder import only DLLs that every Windows
# has (no MinGW runtime beside the executable) and have the expected machine type:
#
#   scripts/check-imports.sh pei-i386|pei-x86-64 BUILD_DIR...
set -euo pipefail

objdump=x86_64-w64-mingw32-objdump # reads 32-bit and 64-bit images alike
format=$1
shift

declare -A system_dll
for dll in advapi32 comctl32 comdlg32 gdi32 imm32 kernel32 msimg32 msvcrt ole32 oleaut32 psapi \
    rpcrt4 shell32 shlwapi user32 userenv uxtheme version; do
    system_dll[$dll.dll]=1
done

checked=0
failed=0
while IFS= read -r -d '' program; do
    checked=$((checked + 1))
    dump=$("$objdump" -p "$program")
    if ! grep -q "file format $format\$" <<<"$dump"; then
        echo "check-imports: $program is not $format: $(grep -m1 'file format' <<<"$dump")"
        failed=1
    fi
    while read -r dll; do
        if [[ -z ${system_dll[${dll,,}]:-} ]]; then
            echo "check-imports: $program imports $dll"
            failed=1
        fi
    done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
done < <(find "$@" -name CMakeFiles -prune -o -name '*.exe' -type f -print0)

if ((checked == 0)); then
    echo "check-imports: no program found under $*"
    exit 1
fi
if ((failed)); then
    echo "check-imports: FAILED for some of $checked programs"
    exit 1
fi
echo "check-imports: $checked programs, all $format, import only system DLLs"
