#!/usr/bin/env bash
# The run command: Tidewell in a throwaway Wine prefix seeded with residues of AutoCAD,
# SolidWorks and Oracle.
#
#   scripts/run.sh [--win64] [--product autocad|solidworks|oracle] [--screenshot FILE]
#                  [--headless] [--dpi 96|120|144|192]
#
# Installs what is missing (scripts/install-deps.sh, as root), builds the program, seeder and
# probe of the win32-release preset (the 32-bit program the release zip holds; --win64: of the
# win64 preset, the 64-bit build), boots a sandbox prefix (scripts/wine/with-prefix.sh), seeds it
# and starts Tidewell. On a machine that cannot run 32-bit programs it says so and runs the
# 64-bit build. With $DISPLAY set the window opens there, on a Wine desktop of its own, and the
# prefix is removed when the window is closed. Without a display (or with --headless) it runs on
# a private Xvfb: it clicks the product's tab (SolidWorks unless --product names another) and
# "搜索残留..." with the mouse, waits for the scan to finish, saves a screenshot of the window
# (default build/run/tidewell-PRODUCT-win32.png, or -win64.png for the 64-bit build), prints its
# path and closes the program. --dpi runs the sandbox at that screen scaling (144 is 150 %) on a
# desktop grown to match.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# The preset whose programs run; the script passes it on to itself inside the prefix.
preset=${TIDEWELL_RUN_PRESET:-win32-release}
build="$root/build/$preset"
wine64=${TIDEWELL_WINE64:-/usr/lib/wine/wine64}

say() { printf 'run: %s\n' "$*" >&2; }

# --- Inside the booted prefix (the script calls itself through the harness).
tab_of() {
    case $1 in
    autocad) echo 0 ;;
    solidworks) echo 1 ;;
    oracle) echo 2 ;;
    esac
}

wine_run() { "$wine64" "$@" </dev/null; }

bitness_of() {
    if [[ $1 == win64 ]]; then
        echo "64-bit build"
    else
        echo "32-bit, the program the release zip holds"
    fi
}

seed_prefix() {
    local manifest="$WINEPREFIX/drive_c/seed-manifest.txt"
    say "seeding residues of AutoCAD, SolidWorks and Oracle"
    wine_run "$build/tools/seeder/tidewell-seeder.exe" seed all --manifest 'C:\seed-manifest.txt' \
        >/dev/null
    if grep -q '^failure' "$manifest"; then
        say "the seeder reported failures:"
        grep '^failure' "$manifest" >&2
    fi
    say "seeded: $(cut -f1 "$manifest" | sort | uniq -c | awk '{printf "%s %s, ", $1, $2}' |
        sed 's/, $//')"
}

start_tidewell() {
    say "starting build/$preset/src/app/tidewell.exe ($(bitness_of "$preset"))"
    # From C:\ so that nothing reaches the build tree through drive Z: by a relative path.
    (cd "$WINEPREFIX/drive_c" && exec "$wine64" "$build/src/app/tidewell.exe" </dev/null) &
    tidewell_pid=$!
}

probe() { wine_run "$build/tools/probe/tidewell-probe.exe" "$@" | tr -d '\r'; }

click() { # X Y
    xdotool mousemove "$1" "$2" click 1
}

inside_show() {
    seed_prefix
    start_tidewell
    say "Tidewell is running on $DISPLAY; close its window to end (the prefix is then removed)"
    wait "$tidewell_pid" || true
}

inside_screenshot() { # PRODUCT FILE
    local product=$1 shot=$2 window status
    seed_prefix
    start_tidewell
    window=$(probe wait-window 60) || {
        say "the Tidewell window did not appear"
        return 1
    }
    read -r _ left top right bottom _ <<<"$window"
    say "window at $left,$top to $right,$bottom"

    local tab
    tab=$(tab_of "$product")
    # shellcheck disable=SC2046 # the probe prints "X Y"
    click $(probe tab-centre "$tab")
    if ((tab != 0)); then
        probe wait-status 20 switched >/dev/null || {
            say "the product tab did not switch"
            return 1
        }
    fi
    # shellcheck disable=SC2046
    click $(probe centre 101)
    status=$(probe wait-status 120 scanned) || {
        say "the scan did not finish: $status"
        return 1
    }
    say "status line: $status"

    mkdir -p "$(dirname "$shot")"
    import -window root "$shot.full.png"
    convert "$shot.full.png" -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$shot"
    rm -f "$shot.full.png"
    probe close >/dev/null || true
    # The window closes at once; a bounded wait for the process.
    for _ in $(seq 1 100); do
        kill -0 "$tidewell_pid" 2>/dev/null || break
        sleep 0.1
    done
    say "screenshot of build/$preset/src/app/tidewell.exe ($(bitness_of "$preset"))"
    echo "$shot"
}

if [[ ${1:-} == --inside ]]; then
    shift
    mode=$1
    shift
    if [[ $mode == show ]]; then
        inside_show
    else
        inside_screenshot "$@"
    fi
    exit
fi

# --- Outside: arguments, dependencies, build, then the prefix.
product=solidworks
shot=
headless=
preset=win32-release
while (($#)); do
    case $1 in
    --win64)
        preset=win64
        shift
        ;;
    --product)
        product=${2:-}
        shift 2
        ;;
    --screenshot)
        shot=${2:-}
        shift 2
        ;;
    --headless)
        headless=1
        shift
        ;;
    --dpi)
        export TIDEWELL_WINE_DPI=${2:-}
        shift 2
        ;;
    *)
        echo "usage: $0 [--win64] [--product autocad|solidworks|oracle] [--screenshot FILE]" \
            "[--headless] [--dpi N]" >&2
        exit 2
        ;;
    esac
done
product=$(tr '[:upper:]' '[:lower:]' <<<"$product")
if [[ -z $(tab_of "$product") ]]; then
    echo "run: unknown product '$product' (autocad, solidworks or oracle)" >&2
    exit 2
fi

bash "$root/scripts/install-deps.sh"
if [[ $preset == win32-release ]] && ! why=$(bash "$root/scripts/wine/runs-32bit.sh"); then
    say "$why: the 32-bit program cannot run here, so the 64-bit build (win64) runs instead"
    preset=win64
fi
export TIDEWELL_RUN_PRESET=$preset
build="$root/build/$preset"
shot=${shot:-$root/build/run/tidewell-$product-${preset%-release}.png}
[[ $shot == /* ]] || shot="$PWD/$shot"

cd "$root"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target tidewell tidewell_seeder tidewell_probe

if [[ -n ${DISPLAY:-} && -z $headless ]]; then
    TIDEWELL_WINE_DISPLAY=$DISPLAY exec "$root/scripts/wine/with-prefix.sh" "$0" --inside show
fi
exec "$root/scripts/wine/with-prefix.sh" "$0" --inside screenshot "$product" "$shot"
