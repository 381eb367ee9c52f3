#!/usr/bin/env bash
# Checks that the Windows programs under each build folder import only the system's known
# libraries and have the expected machine type:
#
#   scripts/check-imports.sh pei-i386|pei-x86-64 BUILD_DIR...
#
# Known libraries (the KnownDLLs of Windows 7 to 10) always come from System32; any other name
# is looked for in the program's own folder first, so a copy planted beside a downloaded program
# would be loaded, with administrator rights, before its first line runs. comctl32 counts as
# known because the manifest's side-by-side dependency resolves it. Test programs, never shipped,
# may also import version (for reading the built program's resources).
set -euo pipefail

objdump=x86_64-w64-mingw32-objdump # reads 32-bit and 64-bit images alike
format=$1
shift

declare -A known_dll
for dll in advapi32 comctl32 comdlg32 gdi32 imm32 kernel32 msvcrt ole32 oleaut32 psapi rpcrt4 \
    shell32 shlwapi user32; do
    known_dll[$dll.dll]=1
done
declare -A test_only_dll=([version.dll]=1)

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
        name=${dll,,}
        if [[ -n ${known_dll[$name]:-} ]] ||
            [[ $program == */tests/* && -n ${test_only_dll[$name]:-} ]]; then
            continue
        fi
        echo "check-imports: $program imports $dll, not a known system library"
        failed=1
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
echo "check-imports: $checked programs, all $format, import only known system DLLs"
