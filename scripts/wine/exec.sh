#!/usr/bin/env bash
# The cross-compiling emulator of the win64 build: runs one Windows program with wine64 in the
# prefix that scripts/wine/with-prefix.sh booted. It refuses to run anywhere else, so a test can
# never touch ~/.wine or start a prefix (and its services) inside ctest.
if [[ "${TIDEWELL_WINE_HARNESS:-}" != 1 || -z "${WINEPREFIX:-}" || ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "exec.sh: no booted Wine prefix; run through scripts/wine/with-prefix.sh" >&2
    exit 125
fi
# Start in C:\ so that relative paths stay inside the prefix instead of reaching the build tree
# through drive Z:.
cd "$WINEPREFIX/drive_c" || exit 125
exec "${TIDEWELL_WINE64:-/usr/lib/wine/wine64}" "$@"
