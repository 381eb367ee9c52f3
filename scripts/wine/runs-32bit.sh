#!/usr/bin/env bash
# Tells whether this machine can run 32-bit Windows programs under Wine: exits 0 if so, else
# prints why and exits 1.
#
#   scripts/wine/runs-32bit.sh
#
# Wine runs a 32-bit program through its 32-bit loader, itself a 32-bit Linux program, so the
# kernel must run those: kernels built or booted without IA-32 emulation, as in some virtual
# machines, refuse it ("Exec format error") whatever is installed.
loader=${TIDEWELL_WINE32:-/usr/lib/wine/wine}
if [[ ! -f $loader ]]; then
    echo "no 32-bit Wine loader ($loader; scripts/install-deps.sh installs wine32:i386)"
    exit 1
fi
if ! "$loader" --version </dev/null >/dev/null 2>&1; then
    echo "this machine's kernel does not start 32-bit Linux programs such as Wine's 32-bit loader ($loader)"
    exit 1
fi
