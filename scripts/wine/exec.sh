#!/usr/bin/env bash
# The cross-compiling emulator of the win64 and win32 builds: runs one Windows program with
# wine64 (which hands a 32-bit one to Wine's 32-bit loader) in the prefix that
# scripts/wine/with-prefix.sh booted. It refuses to run anywhere else, so a test can
# never touch ~/.wine or start a prefix (and its services) inside ctest.
#
# Now and then wine64 ends at once, silent and with a failure, without having started the
# program. The test programs create the file TIDEWELL_START_MARKER names before main; a failed
# run without that file is started once more, and the restart is noted in the file
# TIDEWELL_WINE_RESTARTS names (the test command reports them).
if [[ "${TIDEWELL_WINE_HARNESS:-}" != 1 || -z "${WINEPREFIX:-}" || ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "exec.sh: no booted Wine prefix; run through scripts/wine/with-prefix.sh" >&2
    exit 125
fi
wine64=${TIDEWELL_WINE64:-/usr/lib/wine/wine64}

# Start in C:\ so that relative paths stay inside the prefix instead of reaching the build tree
# through drive Z:.
cd "$WINEPREFIX/drive_c" || exit 125

marker_dir=$(mktemp -d "${TMPDIR:-/tmp}/tidewell-start.XXXXXX") || exit 125
trap 'rm -rf "$marker_dir"' EXIT
# Drive Z: is the Linux root.
export TIDEWELL_START_MARKER="Z:${marker_dir//\//\\}\\started"

child=
# ctest ends a test that outlives its limit by signalling this script: pass it on.
trap '[[ -n $child ]] && kill -TERM "$child" 2>/dev/null; exit 143' TERM INT

for attempt in 1 2; do
    "$wine64" "$@" &
    child=$!
    wait "$child"
    status=$?
    child=
    if ((status == 0)) || [[ -e "$marker_dir/started" ]] || ((attempt == 2)); then
        break
    fi
    note="exec.sh: wine64 ended with $status before $(basename "$1") started; starting it again"
    echo "$note" >&2
    if [[ -n "${TIDEWELL_WINE_RESTARTS:-}" ]]; then
        echo "$note ($*)" >>"$TIDEWELL_WINE_RESTARTS"
    fi
done
exit "$status"
