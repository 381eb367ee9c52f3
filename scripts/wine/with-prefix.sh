#!/usr/bin/env bash
# Runs COMMAND with a throwaway Wine prefix booted for tests, then tears everything down:
#
#   scripts/wine/with-prefix.sh COMMAND [ARG...]
#
# COMMAND sees WINEPREFIX, HOME, DISPLAY and WINEDEBUG exported, a persistent wineserver, the
# Wine services already started (so ctest never waits on their inherited pipes), a Wine virtual
# desktop on a private Xvfb display, Chinese font substitutes, and Desktop/Documents folders that
# are real folders inside the prefix rather than links to $HOME. The exit status is COMMAND's.
#
# TIDEWELL_WINE_DPI (default 96) sets the prefix's screen scaling (LogPixels: 120 is 125 %, 144
# is 150 %); the Xvfb screen and the virtual desktop (1024x768 at 96) grow with it.
set -euo pipefail

wine64=${TIDEWELL_WINE64:-/usr/lib/wine/wine64}
wineserver=${TIDEWELL_WINESERVER:-/usr/lib/wine/wineserver}
BOOT_TIMEOUT=${TIDEWELL_WINE_BOOT_TIMEOUT:-180}
dpi=${TIDEWELL_WINE_DPI:-96}
if ! [[ $dpi =~ ^[0-9]+$ ]] || ((dpi < 96 || dpi > 480)); then
    echo "with-prefix: TIDEWELL_WINE_DPI must be a number from 96 to 480" >&2
    exit 2
fi
desktop="$((1024 * dpi / 96))x$((768 * dpi / 96))"

say() { printf 'with-prefix: %s\n' "$*" >&2; }

if (($# == 0)); then
    echo "usage: $0 COMMAND [ARG...]" >&2
    exit 2
fi
for tool in "$wine64" "$wineserver" Xvfb timeout; do
    if ! command -v "$tool" >/dev/null; then
        say "missing $tool (run scripts/install-deps.sh)"
        exit 127
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tidewell-wine.XXXXXX")
xvfb_pid=
server_used=

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    if [[ -n $server_used ]]; then
        # -k ends the persistent server with every process of this prefix; the bounded wait
        # lets it finish saving the registry before the prefix is removed.
        timeout 30 "$wineserver" -k >/dev/null 2>&1 || true
        timeout 30 "$wineserver" -w >/dev/null 2>&1 || true
    fi
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

now_ms() { date +%s%3N; }
started=$(now_ms)

# Xvfb picks a free display number itself and reports it once it accepts connections; its lock
# files make the choice safe when several runs start at once.
Xvfb -displayfd 3 -screen 0 "${desktop}x24" -nolisten tcp 3>"$work/display" \
    </dev/null >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=
for _ in $(seq 1 200); do
    display=$(tr -dc '0-9' <"$work/display")
    if [[ -n $display ]] && grep -q $'\n' "$work/display"; then
        break
    fi
    display=
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
if [[ -z $display ]]; then
    say "Xvfb did not start:"
    cat "$work/xvfb.log" >&2 || true
    exit 1
fi

export HOME="$work/home"
export WINEPREFIX="$work/prefix"
# TIDEWELL_WINE_DISPLAY shows the windows on that X display instead (the run command opens
# Tidewell on the user's screen); the private Xvfb then stays unused.
export DISPLAY="${TIDEWELL_WINE_DISPLAY:-:$display}"
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono or Gecko installers, and no menu entries written to the throwaway home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset WINESERVER WINELOADER
mkdir -p "$HOME"

# Settings that the desktop and fonts read when they start, so they go in before the final boot.
# Chinese text renders through WenQuanYi Micro Hei; Xvfb has no window manager, so windows live
# on a Wine virtual desktop.
# A REGEDIT4 file holds REG_MULTI_SZ data as ANSI bytes: the string, its terminator and the
# list's terminator.
multi_sz_hex() {
    printf '%s' "$1" | od -An -v -tx1 | tr -s ' \n' ',' | sed -e 's/^,//' -e 's/,$/,00,00/'
}
{
    printf 'REGEDIT4\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    printf '"Segoe UI"="WenQuanYi Micro Hei"\r\n'
    printf '"Microsoft YaHei UI"="WenQuanYi Micro Hei"\r\n'
    printf '"Microsoft YaHei"="WenQuanYi Micro Hei"\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    printf '"Tahoma"=hex(7):%s\r\n\r\n' "$(multi_sz_hex 'wqy-microhei.ttc,WenQuanYi Micro Hei')"
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n'
    printf '"Desktop"="Default"\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n'
    printf '"Default"="%s"\r\n\r\n' "$desktop"
    printf '[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n'
    printf '"LogPixels"=dword:%08x\r\n\r\n' "$dpi"
    printf '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]\r\n'
    printf '"LogPixels"=dword:%08x\r\n\r\n' "$dpi"
} >"$work/settings.reg"

boot_failed() {
    say "$1 failed; its output:"
    cat "$work/boot.log" >&2 || true
    exit 1
}

# The order matters: a first boot that installs the prefix and starts the services, a full stop,
# then the persistent server and a second boot. A persistent server during the first boot makes
# StartServiceW fail with 1055; without one, every test process pays seconds of start-up.
server_used=1
display_ready=$(now_ms)
timeout "$BOOT_TIMEOUT" "$wine64" wineboot -i </dev/null >"$work/boot.log" 2>&1 ||
    boot_failed "wineboot -i"
cp "$work/settings.reg" "$WINEPREFIX/drive_c/tidewell-settings.reg"
timeout "$BOOT_TIMEOUT" "$wine64" regedit /S 'C:\tidewell-settings.reg' \
    </dev/null >>"$work/boot.log" 2>&1 || boot_failed "regedit"
rm -f "$WINEPREFIX/drive_c/tidewell-settings.reg"
timeout "$BOOT_TIMEOUT" "$wineserver" -w </dev/null >>"$work/boot.log" 2>&1 ||
    boot_failed "wineserver -w"
first_boot_done=$(now_ms)
"$wineserver" -p </dev/null >/dev/null 2>&1 || boot_failed "wineserver -p"
timeout "$BOOT_TIMEOUT" "$wine64" wineboot </dev/null >/dev/null 2>&1 || boot_failed "wineboot"

# Wine links Desktop, Documents, Music ... to $HOME; logs and backups written there would leave
# the prefix. Real folders keep every write inside it.
for user_dir in "$WINEPREFIX"/drive_c/users/*/; do
    while IFS= read -r -d '' link; do
        rm -f "$link"
        mkdir -p "$link"
    done < <(find "$user_dir" -maxdepth 1 -type l -print0)
done

# Wine closes a desktop that no process uses, and the next window then starts a new explorer.exe
# inside a test, a second or more each time. A keeper process (waiting on a FIFO that nobody
# writes) holds the desktop for the whole run, and one call creates it before COMMAND starts.
mkfifo "$work/desktop-keeper"
exec 7<>"$work/desktop-keeper"
"$wine64" cmd.exe /c pause <"$work/desktop-keeper" >/dev/null 2>&1 &
timeout "$BOOT_TIMEOUT" "$wine64" rundll32.exe user32.dll,GetDesktopWindow \
    </dev/null >/dev/null 2>&1 || boot_failed "desktop start"

done_ms=$(now_ms)
say "Wine prefix ready on DISPLAY=$DISPLAY in $((done_ms - started)) ms" \
    "(Xvfb $((display_ready - started)), first boot $((first_boot_done - display_ready))," \
    "second boot $((done_ms - first_boot_done)))"
export TIDEWELL_WINE_HARNESS=1

set +e
"$@" 7>&-
status=$?
set -e
exit "$status"
