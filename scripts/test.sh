#!/usr/bin/env bash
# The test command: installs what is missing, builds the presets native, win64 and win32-release,
# runs the native tests, checks the Windows programs' imports, and runs the Windows tests under
# Wine in one throwaway prefix; then builds the release zip once and checks what it holds. Exits
# non-zero if any build or test fails.
#
#   scripts/test.sh
#
# TIDEWELL_BUILD_ROOT puts the build folders somewhere else than build/ (one per preset).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
exec </dev/null

build_root=${TIDEWELL_BUILD_ROOT:-$root/build}
test_timeout=120
logs=$(mktemp -d "${TMPDIR:-/tmp}/tidewell-test.XXXXXX")
trap 'rm -rf "$logs"' EXIT
# Programs that Wine failed to start and scripts/wine/exec.sh started again.
export TIDEWELL_WINE_RESTARTS="$logs/wine-restarts.txt"

summary=()
any_failed=0
tests_passed=0
tests_failed=0
run_started=$SECONDS

# stage NAME COMMAND...: runs COMMAND, records its status and duration.
stage() {
    local name=$1
    shift
    printf '\n==== %s\n' "$name"
    local started=$SECONDS
    "$@"
    local status=$?
    local verdict=ok
    if ((status != 0)); then
        verdict=FAILED
        any_failed=1
    fi
    summary+=("$(printf '%-22s %-7s %5d s' "$name" "$verdict" $((SECONDS - started)))")
    return "$status"
}

build_preset() {
    local preset=$1
    cmake --preset "$preset" -B "$build_root/$preset" && cmake --build "$build_root/$preset"
}

# Adds the counts of ctest's closing line ("N% tests passed, F tests failed out of T").
count_tests() {
    local line
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
    if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
        tests_failed=$((tests_failed + BASH_REMATCH[1]))
        tests_passed=$((tests_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    fi
}

# Extra ctest arguments (a label selection) for the next run_ctest.
ctest_args=()
run_ctest() {
    local preset=$1 jobs=$2
    shift 2
    "$@" ctest --test-dir "$build_root/$preset" --output-on-failure --no-tests=error \
        --timeout "$test_timeout" -j "$jobs" "${ctest_args[@]}" 2>&1 | tee "$logs/$preset.log"
    local status=${PIPESTATUS[0]}
    count_tests "$logs/$preset.log"
    return "$status"
}

if ! stage "dependencies" bash scripts/install-deps.sh; then
    echo "test: the dependencies could not be installed" >&2
    exit 1
fi

built=()
for preset in native win64 win32-release; do
    if stage "build $preset" build_preset "$preset"; then
        built+=("$preset")
    fi
done
is_built() { [[ " ${built[*]} " == *" $1 "* ]]; }

if is_built native; then
    stage "native tests" run_ctest native 2
fi
if is_built win64; then
    stage "win64 imports" bash scripts/check-imports.sh pei-x86-64 "$build_root/win64"
    # One prefix for the whole run; the tests share it, so they run one at a time.
    ctest_args=(-LE e2e)
    stage "win64 tests (Wine)" run_ctest win64 1 bash scripts/wine/with-prefix.sh
    # The end-to-end tests run the whole program, whose scans see whatever other tests leave
    # behind: they get a prefix of their own.
    ctest_args=(-L e2e)
    stage "win64 e2e (Wine)" run_ctest win64 1 bash scripts/wine/with-prefix.sh
    ctest_args=()
fi
# Every benchmark program once at 1/100 of its size: it still runs and agrees with its floor.
if is_built native && is_built win64; then
    stage "benchmark smoke" bash scripts/bench-smoke.sh "$build_root"
fi
# The release zip from the same win32-release build, and a look inside it.
package_and_check() {
    local zip
    zip=$(TIDEWELL_BUILD_ROOT=$build_root bash scripts/package.sh) && bash scripts/check-package.sh "$zip"
}

if is_built win32-release; then
    stage "win32-release imports" bash scripts/check-imports.sh pei-i386 "$build_root/win32-release"
    stage "release package" package_and_check
fi

printf '\n==== summary (%d s in all)\n' $((SECONDS - run_started))
printf '%s\n' "${summary[@]}"
echo "total: $tests_passed passed, $tests_failed failed"
if [[ -s "$TIDEWELL_WINE_RESTARTS" ]]; then
    echo "Wine failed to start a program and it was started again ($(wc -l <"$TIDEWELL_WINE_RESTARTS") times):"
    cat "$TIDEWELL_WINE_RESTARTS"
fi
exit "$any_failed"
