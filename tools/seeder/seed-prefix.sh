#!/usr/bin/env bash
# Seeds or clears product residues in a booted Wine prefix, with the seeder of a Windows build:
#
#   tools/seeder/seed-prefix.sh BUILD_DIR seed|clear [autocad|solidworks|oracle|all]
#                               [--manifest FILE] [--no-processes] [--no-package]
#
# WINEPREFIX (with HOME and DISPLAY) must name a prefix that is booted and has its services
# running, for example inside scripts/wine/with-prefix.sh. FILE may be a Linux path. Without
# --manifest the manifest goes to standard output. The programs the seed starts are children
# of the prefix's service manager, so they do not hold this script's output open; they end
# with "clear" or when the prefix's wineserver is killed.
set -euo pipefail

if (($# < 2)); then
    sed -n '2,11p' "$0" >&2
    exit 2
fi
build=$1
shift
seeder=$(realpath -m "$build/tools/seeder/tidewell-seeder.exe")
if [[ ! -f $seeder ]]; then
    echo "seed-prefix: no seeder at $seeder (build the tidewell_seeder target)" >&2
    exit 2
fi
if [[ -z ${WINEPREFIX:-} || ! -f $WINEPREFIX/system.reg ]]; then
    echo "seed-prefix: WINEPREFIX does not name a booted prefix" >&2
    exit 2
fi

# Linux paths reach the prefix through drive Z:.
windows_path() {
    local absolute
    absolute=$(realpath -m "$1")
    printf 'Z:%s' "${absolute//\//\\}"
}

args=()
while (($#)); do
    if [[ $1 == --manifest && $# -ge 2 ]]; then
        args+=("$1" "$(windows_path "$2")")
        shift 2
    else
        args+=("$1")
        shift
    fi
done

cd "$WINEPREFIX/drive_c"
exec "${TIDEWELL_WINE64:-/usr/lib/wine/wine64}" "$(windows_path "$seeder")" "${args[@]}"
