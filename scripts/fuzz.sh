#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang and runs each for a bounded time, one
# after another.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   each target SECONDS long (default 600)
#   scripts/fuzz.sh --smoke [TARGET...]     the same with 10 s per target, for CI
#
# Each target first replays its regression inputs, then fuzzes from its corpus, its seeds and
# its dictionary of UTF-16 words (tests/fuzz/<target>.dict).
# Corpora grow in $TIDEWELL_FUZZ_WORK (default: a folder under the system's temp folder) and are
# kept from run to run; the seeds in tests/fuzz/corpus/<target>/ are read but never written.
# An input that breaks a property or trips a sanitizer is copied to
# tests/fuzz/regressions/<target>/ and replayed by every later run. The exit status is 0 only
# when no target failed. Needs clang++ and libclang-rt-14-dev (scripts/install-deps.sh).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TIDEWELL_FUZZ_BUILD:-$root/build/fuzz-clang}"
work="${TIDEWELL_FUZZ_WORK:-${TMPDIR:-/tmp}/tidewell-fuzz}"
all_targets=(split_location sanitize_file_name silent_uninstall registry_text process_id dedup_key
    reg_file)

smoke=0
seconds=600
if [[ "${1:-}" == "--smoke" ]]; then
    smoke=1
    seconds=10
    shift
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
    seconds="$1"
    shift
fi
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    targets=("${all_targets[@]}")
fi

compiler="${CXX_FUZZ:-$(command -v clang++ || true)}"
if [[ -z "$compiler" ]]; then
    echo "fuzz.sh: clang++ not found (apt-get install -y clang libclang-rt-14-dev)" >&2
    exit 2
fi

generator=()
if command -v ninja >/dev/null; then
    generator=(-G Ninja)
fi
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root/tests/fuzz" -B "$build" "${generator[@]}" \
        -DCMAKE_CXX_COMPILER="$compiler" >/dev/null
fi
cmake --build "$build" -- -j"${TIDEWELL_FUZZ_JOBS:-2}" >/dev/null

failed=()
summary=()
for target in "${targets[@]}"; do
    binary="$build/fuzz_$target"
    if [[ ! -x "$binary" ]]; then
        echo "fuzz.sh: unknown target $target (known: ${all_targets[*]})" >&2
        exit 2
    fi
    seeds="$root/tests/fuzz/corpus/$target"
    regressions="$root/tests/fuzz/regressions/$target"
    corpus="$work/corpus/$target"
    artifacts="$work/artifacts/$target"
    mkdir -p "$corpus" "$artifacts"
    log="$work/$target.log"

    # Every input that once broke something must pass now.
    shopt -s nullglob
    kept=("$regressions"/*)
    shopt -u nullglob
    if [[ ${#kept[@]} -gt 0 ]]; then
        if ! "$binary" -runs=1 "${kept[@]}" >"$log" 2>&1; then
            echo "== $target: a regression input fails again (see $log)"
            tail -n 30 "$log"
            failed+=("$target")
            continue
        fi
    fi

    # A time-bounded run; libFuzzer writes new inputs to the first folder only. The dictionary
    # holds the UTF-16 words the rule looks for, which the fuzzer would hardly guess.
    options=(-max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=4096
        -artifact_prefix="$artifacts/")
    if [[ -f "$root/tests/fuzz/$target.dict" ]]; then
        options+=(-dict="$root/tests/fuzz/$target.dict")
    fi
    status=0
    "$binary" "${options[@]}" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    took="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)"
    line="$target: ${runs:-?} runs in ${took:-?} s, corpus $(find "$corpus" -type f | wc -l) inputs"
    if [[ $status -ne 0 ]]; then
        mkdir -p "$regressions"
        shopt -s nullglob
        for finding in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* \
            "$artifacts"/oom-*; do
            cp "$finding" "$regressions/"
            echo "   kept $(basename "$finding") in tests/fuzz/regressions/$target/"
        done
        shopt -u nullglob
        echo "== $target: FAILED (exit $status), see $log"
        grep -E "property broken|ERROR:|SUMMARY:|input:|output:" "$log" | head -n 20 || true
        failed+=("$target")
        line+=" FAILED"
    fi
    summary+=("$line")
    echo "$line"
done

echo
echo "fuzz summary ($([[ $smoke -eq 1 ]] && echo smoke || echo "$seconds s per target")):"
printf '  %s\n' "${summary[@]}"
if [[ ${#failed[@]} -gt 0 ]]; then
    echo "failed: ${failed[*]}"
    exit 1
fi
