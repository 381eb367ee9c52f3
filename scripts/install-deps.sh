#!/usr/bin/env bash
# Installs the Debian packages that the build and every test need, 32-bit Wine included (the
# program ships as a 32-bit one and its tests run as one too). Runs as root (or through sudo);
# returns at once when everything is already installed.
set -euo pipefail

packages=(
    cmake ninja-build g++ git                  # native build
    g++-mingw-w64-x86-64 g++-mingw-w64-i686    # Windows builds (binutils and windres come along)
    googletest                                 # sources, built by the project
    clang libclang-rt-14-dev clang-format      # fuzzing and formatting
    wine64 fonts-wine                          # Wine; wine32:i386 of the same version below
    xvfb xdotool imagemagick x11-utils         # a display, clicks and screenshots for window tests
    fonts-wqy-microhei                         # Chinese glyphs for the interface under Wine
    wixl msitools                              # test installers for the uninstall tests
    zip unzip                                  # the release package and its check
)

# dpkg-query fails when it knows a package not at all; its output still lists the others.
listing=$(dpkg-query -W -f='${Status} ${Package}\n' "${packages[@]}" 2>/dev/null || true)
installed=" $(sed -n 's/^install ok installed //p' <<<"$listing" | tr '\n' ' ')"
missing=()
for package in "${packages[@]}"; do
    if [[ $installed != *" $package "* ]]; then
        missing+=("$package")
    fi
done

# The 32-bit loader comes from the i386 architecture and must be wine64's own version: with it a
# prefix is a WoW64 one and runs 32-bit programs (Windows' own SysWOW64 programs included), where
# the kernel runs 32-bit Linux programs (scripts/wine/runs-32bit.sh tells).
installed_version() { # PACKAGE: its version when installed, else nothing
    dpkg-query -W -f='${Status} ${Version}\n' "$1" 2>/dev/null | sed -n 's/^install ok installed //p'
}
wine32_ready() {
    local wine64_version
    wine64_version=$(installed_version wine64)
    [[ -n $wine64_version && $(installed_version wine32:i386) == "$wine64_version" ]]
}
if ((${#missing[@]} == 0)) && wine32_ready; then
    echo "install-deps: all ${#packages[@]} packages and wine32:i386 are installed"
    exit 0
fi

sudo=()
if ((EUID != 0)); then
    if ! command -v sudo >/dev/null; then
        echo "install-deps: missing ${missing[*]} wine32:i386; run as root to install them" >&2
        exit 1
    fi
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

updated=
if ((${#missing[@]} > 0)); then
    echo "install-deps: installing ${missing[*]}"
    "${sudo[@]}" apt-get update -q
    updated=1
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
fi

if ! wine32_ready; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        echo "install-deps: adding the i386 architecture"
        "${sudo[@]}" dpkg --add-architecture i386
        updated=
    fi
    if [[ -z $updated ]]; then
        "${sudo[@]}" apt-get update -q
    fi
    version=$(installed_version wine64)
    echo "install-deps: installing wine32:i386 $version"
    # Its i386 libraries bring their amd64 twins up to the same versions.
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "wine32:i386=$version" </dev/null
fi
