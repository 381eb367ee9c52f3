#!/usr/bin/env bash
# The benchmark smoke run of the test command: every benchmark program once at 1/100 of its size,
# from the test builds, so that a benchmark that no longer runs is caught the day it breaks. It
# judges no time: each program must finish, the scan must find what its floor counts, the
# removals must leave nothing behind and the tree must hold the nodes and checks it was given.
#
#   scripts/bench-smoke.sh [BUILD-ROOT]     (default build/, with the native and win64 presets)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_root=${1:-$root/build}
fake=$build_root/native/bench/tidewell-bench-fake
exe=$build_root/win64/bench/tidewell-bench.exe
for program in "$fake" "$exe"; do
    if [[ ! -x $program ]]; then
        echo "bench-smoke: $program is not built" >&2
        exit 1
    fi
done

# The in-memory machine: TEMP entries, uninstall records and vendor subfolders as at 1/100.
for workload in "scan 1000 30 5" "remove 1000 50" "plan 100"; do
    echo "tidewell-bench-fake $workload"
    # shellcheck disable=SC2086 # the workload is its words
    "$fake" $workload
done

BENCH_EXE=$exe BENCH_SCALES=100 BENCH_REPEAT=1 bash "$root/scripts/bench.sh"
