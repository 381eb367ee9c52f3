#!/usr/bin/env bash
# Installs the Debian packages that the build and every test need. Runs as root (or through
# sudo); returns at once when everything is already installed.
set -euo pipefail

packages=(
    cmake ninja-build g++ git                  # native build
    g++-mingw-w64-x86-64 g++-mingw-w64-i686    # Windows builds (binutils and windres come along)
    googletest                                 # sources, built by the project
    clang libclang-rt-14-dev clang-format      # fuzzing and formatting
    wine64 fonts-wine                          # 64-bit Wine only: this kernel runs no 32-bit Linux code
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
if ((${#missing[@]} == 0)); then
    echo "install-deps: all ${#packages[@]} packages are installed"
    exit 0
fi

sudo=()
if ((EUID != 0)); then
    if ! command -v sudo >/dev/null; then
        echo "install-deps: missing ${missing[*]}; run as root to install them" >&2
        exit 1
    fi
    sudo=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
