#!/usr/bin/env bash
# The test command: installs what is missing, builds the presets native, win64, win32 and
# win32-release, runs the native tests, checks the Windows programs' imports, and runs the Windows
# tests and the end-to-end cases under Wine twice, as 64-bit (win64) and as 32-bit programs
# (win32, the bitness that ships), each suite in a throwaway prefix of its own, side by side with
# the native fuzz smoke run; then builds the release zip once, checks what it holds and starts its
# program. Exits non-zero if any build or test fails.
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
run_started=$SECONDS

record() { # NAME STATUS SECONDS
    local verdict=ok
    if (($2 != 0)); then
        verdict=FAILED
        any_failed=1
    fi
    summary+=("$(printf '%-22s %-7s %5d s' "$1" "$verdict" "$3")")
}

# A stage this machine cannot run, with the reason; it counts neither as passed nor as failed.
not_run=()
stage_not_run() { # NAME REASON
    printf '\n==== %s\nnot run: %s\n' "$1" "$2"
    summary+=("$(printf '%-22s %-7s %s' "$1" "NOT RUN" "$2")")
    not_run+=("$1")
}

# stage NAME COMMAND...: runs COMMAND, records its status and duration.
stage() {
    local name=$1
    shift
    printf '\n==== %s\n' "$name"
    local started=$SECONDS
    "$@"
    local status=$?
    record "$name" "$status" $((SECONDS - started))
    return "$status"
}

# Stages that run side by side: stage_start NAME COMMAND... starts one in the background with its
# output kept aside; stages_wait waits for all of them and prints each one's output, in the order
# they were started, and records them.
started_names=()
started_pids=()
stage_start() {
    local name=$1
    shift
    local out="$logs/stage-${#started_names[@]}"
    (
        began=$SECONDS
        "$@" >"$out.out" 2>&1
        echo "$? $((SECONDS - began))" >"$out.end"
    ) &
    started_pids+=($!)
    started_names+=("$name")
    echo "==== $name: started"
}
stages_wait() {
    local i status seconds
    for i in "${!started_pids[@]}"; do
        wait "${started_pids[$i]}"
        printf '\n==== %s\n' "${started_names[$i]}"
        cat "$logs/stage-$i.out"
        read -r status seconds <"$logs/stage-$i.end" || status=1 seconds=0
        record "${started_names[$i]}" "$status" "$seconds"
        rm -f "$logs/stage-$i.out" "$logs/stage-$i.end"
    done
    started_names=()
    started_pids=()
}

build_preset() {
    local preset=$1
    cmake --preset "$preset" -B "$build_root/$preset" && cmake --build "$build_root/$preset"
}

# run_ctest NAME PRESET JOBS 'SELECTION' [WRAPPER...]: ctest of the preset's build folder with the
# label selection (may be empty), through WRAPPER; its output is kept as ctest-NAME.log for the
# totals.
run_ctest() {
    local name=$1 preset=$2 jobs=$3 selection=$4
    shift 4
    # shellcheck disable=SC2086 # the selection is a list of words
    "$@" ctest --test-dir "$build_root/$preset" --output-on-failure --no-tests=error \
        --timeout "$test_timeout" -j "$jobs" $selection 2>&1 | tee "$logs/ctest-$name.log"
    return "${PIPESTATUS[0]}"
}

if ! stage "dependencies" bash scripts/install-deps.sh; then
    echo "test: the dependencies could not be installed" >&2
    exit 1
fi

built=()
for preset in native win64 win32 win32-release; do
    if stage "build $preset" build_preset "$preset"; then
        built+=("$preset")
    fi
done
is_built() { [[ " ${built[*]} " == *" $1 "* ]]; }

if is_built native; then
    stage "native tests" run_ctest native native 2 "-LE fuzz"
fi
wine="bash scripts/wine/with-prefix.sh"
for preset in win64 win32; do
    if is_built "$preset"; then
        format=pei-x86-64
        [[ $preset == win32 ]] && format=pei-i386
        stage "$preset imports" bash scripts/check-imports.sh "$format" "$build_root/$preset"
    fi
done
if is_built win32-release; then
    stage "win32-release imports" bash scripts/check-imports.sh pei-i386 "$build_root/win32-release"
fi

# What is left runs side by side, from here to stages_wait.
# The release zip from the same win32-release build, a look inside it and one start of its
# program.
package_and_check() {
    local zip
    zip=$(TIDEWELL_BUILD_ROOT=$build_root bash scripts/package.sh) && bash scripts/check-package.sh "$zip"
}
if is_built win32-release; then
    stage_start "release package" package_and_check
fi

# Every benchmark program once at 1/100 of its size: it still runs and agrees with its floor (in
# a prefix of its own; it judges no time).
if is_built native && is_built win64; then
    stage_start "benchmark smoke" bash scripts/bench-smoke.sh "$build_root"
fi

# The fuzz smoke run fuzzes for a fixed time on one core, which the Wine suites, often waiting on
# Wine, leave free more often than not.
if is_built native; then
    stage_start "native fuzz smoke" run_ctest native-fuzz native 1 "-L fuzz"
fi
# Each Wine suite in a prefix of its own: the tests of one suite share their prefix and run one at
# a time, and the end-to-end tests run the whole program, whose scans would see what other tests
# leave behind.
no_32bit=$(bash scripts/wine/runs-32bit.sh) && no_32bit=
for preset in win64 win32; do
    if is_built "$preset" && [[ $preset == win64 || -z $no_32bit ]]; then
        # shellcheck disable=SC2086
        stage_start "$preset tests (Wine)" run_ctest "$preset" "$preset" 1 "-LE e2e" $wine
        # shellcheck disable=SC2086
        stage_start "$preset e2e (Wine)" run_ctest "$preset-e2e" "$preset" 1 "-L e2e" $wine
    fi
done
stages_wait
if [[ -n $no_32bit ]]; then
    if is_built win32; then
        stage_not_run "win32 tests (Wine)" "$no_32bit"
        stage_not_run "win32 e2e (Wine)" "$no_32bit"
    fi
    if is_built win32-release; then
        stage_not_run "release start (Wine)" "$no_32bit"
    fi
fi

# Adds the counts of each ctest run's closing line ("N% tests passed, F tests failed out of T").
tests_passed=0
tests_failed=0
for log in "$logs"/ctest-*.log; do
    [[ -f $log ]] || continue
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
        tests_failed=$((tests_failed + BASH_REMATCH[1]))
        tests_passed=$((tests_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
    fi
done

printf '\n==== summary (%d s in all)\n' $((SECONDS - run_started))
printf '%s\n' "${summary[@]}"
echo "total: $tests_passed passed, $tests_failed failed"
if ((${#not_run[@]} > 0)); then
    echo "NOT RUN on this machine: ${not_run[*]}"
fi
if [[ -s "$TIDEWELL_WINE_RESTARTS" ]]; then
    echo "Wine failed to start a program and it was started again ($(wc -l <"$TIDEWELL_WINE_RESTARTS") times):"
    cat "$TIDEWELL_WINE_RESTARTS"
fi
exit "$any_failed"
