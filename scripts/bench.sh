#!/usr/bin/env bash
# Benchmarks of the x86_64 build in one throwaway Wine prefix: the scan against a bare program
# making the same system calls, tree removal against `cmd /c rd /s /q` and Linux `rm -rf`, and
# building the result tree in the real window; each at full size and at one tenth of it.
#
#   scripts/bench.sh
#
# BENCH_REPEAT (default 3) sets how often each figure is measured; medians are printed.
# BENCH_SCALES (default "10 1") lists the divisors of the full sizes to run, smallest first.
# BENCH_ONLY (default "scan removal tree") picks the measurements.
# BENCH_EXE runs that tidewell-bench.exe instead of building the Release one (the smoke run of the
# test command uses its own build).
# Not part of the test command: it takes about half an hour and judges speed, not behaviour.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
repeat=${BENCH_REPEAT:-3}
scales=${BENCH_SCALES:-"10 1"}
only=" ${BENCH_ONLY:-scan removal tree} "

if [[ ${1:-} != --inside ]]; then
    cd "$root"
    if [[ -n ${BENCH_EXE:-} ]]; then
        exec bash "$root/scripts/wine/with-prefix.sh" bash "$0" --inside "$(readlink -f "$BENCH_EXE")"
    fi
    build=$root/build/bench-win64
    # Release, as the program ships; the preset's tests are not built.
    cmake --preset win64 -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" --target tidewell_bench
    exec bash "$root/scripts/wine/with-prefix.sh" bash "$0" --inside "$build/bench/tidewell-bench.exe"
fi

exe=$2
wine64=${TIDEWELL_WINE64:-/usr/lib/wine/wine64}
drive_c=$WINEPREFIX/drive_c
results=$(mktemp -d "${TMPDIR:-/tmp}/tidewell-bench.XXXXXX")
trap 'rm -rf "$results"' EXIT

say() { printf '%s\n' "$*" >&2; }
now_ms() { date +%s%3N; }

# bench ARGS...: runs the bench program from C:\ and keeps its RESULT lines in $results/last.
bench() {
    (cd "$drive_c" && "$wine64" "$exe" "$@") >"$results/last" || {
        say "bench: tidewell-bench $* failed"
        cat "$results/last" >&2
        exit 1
    }
}
# result NAME: the value the last bench run reported under NAME; a missing one stops the run.
result() {
    local value
    value=$(sed -n "s/^RESULT $1 //p" "$results/last" | tr -d '\r')
    if [[ -z $value ]]; then
        say "bench: no $1 in the output of the last run"
        exit 1
    fi
    printf '%s\n' "$value"
}

# C:\x\y -> $WINEPREFIX/drive_c/x/y
unix_path() {
    local path=${1#[Cc]:\\}
    printf '%s/%s' "$drive_c" "${path//\\//}"
}

median() { tr ' ' '\n' | sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf (b > 0 ? "%.2f" : "-"), a / b}'; }
fmt() { awk -v v="$1" 'BEGIN {printf "%.0f", v}'; }

# --- The heavy machine -------------------------------------------------------------------------

bench paths
temp=$(unix_path "$(result temp)")
vendor_bases=()
for name in program_files program_files_x86 program_data local_app_data roaming_app_data; do
    vendor_bases+=("$(unix_path "$(result "$name")")")
done
mkdir -p "$temp"

# Names in TEMP: one in twenty looks like AutoCAD (5 %), one in a hundred is a folder.
grow_temp() {
    local first=$1 last=$2 i
    (
        cd "$temp"
        for ((i = first; i < last; i++)); do
            if ((i % 100 == 1)); then
                mkdir "msi$i.tmp"
                continue
            fi
            case $((i % 80)) in
            0) printf '%s\n' "acad_$i.tmp" ;;
            20) printf '%s\n' "AutoCAD_$i.log" ;;
            40) printf '%s\n' "Autodesk Install $i.dmp" ;;
            60) mkdir "ACAD$i" ;;
            *) printf '%s\n' "tmp$i.tmp" ;;
            esac
        done | xargs -d '\n' -r touch
    )
}

# Subfolders of each vendor folder: one in ten named like AutoCAD.
grow_vendor() {
    local first=$1 last=$2 base i
    for base in "${vendor_bases[@]}"; do
        mkdir -p "$base/Autodesk"
        (
            cd "$base/Autodesk"
            for ((i = first; i < last; i++)); do
                if ((i % 10 == 0)); then
                    printf '%s\n' "AutoCAD 20$i"
                else
                    printf '%s\n' "Product $i"
                fi
            done | xargs -d '\n' -r mkdir
        )
    done
}

# --- Removal trees ----------------------------------------------------------------------------

# make_tree DIR FILES FOLDERS: FOLDERS folders below DIR, in groups of up to a hundred (a middle
# folder and its leaf folders), every one of them holding FILES/FOLDERS empty files; one file in
# a hundred is read-only (Wine shows a file without write permission as FILE_ATTRIBUTE_READONLY).
make_tree() {
    local dir=$1 files=$2 folders=$3 middle leaf i
    local per=$((files / folders)) mids=$(((folders + 99) / 100))
    local leaves=$((folders / mids - 1))
    mkdir -p "$dir"
    (
        cd "$dir"
        for ((middle = 0; middle < mids; middle++)); do
            printf '%s\n' "d$middle"
            for ((leaf = 0; leaf < leaves; leaf++)); do
                printf '%s\n' "d$middle/e$leaf"
            done
        done | xargs -d '\n' mkdir
        find . -mindepth 1 -type d | while IFS= read -r folder; do
            for ((i = 0; i < per; i++)); do
                printf '%s\n' "$folder/f$i.dat"
            done
        done | xargs -d '\n' touch
        find . -name 'f0.dat' -print0 | xargs -0 chmod 444
    )
}

count_entries() { find "$1" | wc -l; }

# --- Measurements -----------------------------------------------------------------------------

declare -A figure

measure_scan() {
    local scale=$1 temp_total=$((100000 / scale)) records=$((3000 / scale))
    local subfolders=$((500 / scale))
    grow_temp "${grown_temp:-0}" "$temp_total"
    grown_temp=$temp_total
    grow_vendor "${grown_vendor:-0}" "$subfolders"
    grown_vendor=$subfolders
    bench seed-registry "${grown_records:-0}" $((records - ${grown_records:-0}))
    grown_records=$records
    say "scan 1/$scale: $temp_total TEMP entries, $records uninstall records per root and view," \
        "$subfolders subfolders per vendor folder"
    bench scan "$repeat"
    figure[scan_floor_$scale]=$(result scan_floor_ms)
    figure[scan_tw_$scale]=$(result scan_tidewell_ms)
    figure[scan_items_$scale]=$(result scan_items)
    say "  items $(result scan_items) (floor $(result floor_items)), TEMP listed" \
        "$(result temp_entries), records read $(result records)"
    say "  longest time without a look at the window's queue: $(result scan_longest_queue_gap_ms) ms"
}

measure_removal() {
    local scale=$1 files=$((100000 / scale)) folders=$((5000 / scale))
    local template=$drive_c/bench/template-$scale rep tw=() rd=() rm_times=() gaps=() started
    say "removal 1/$scale: $files files in $folders folders"
    make_tree "$template" "$files" "$folders"
    local expected
    expected=$(count_entries "$template")
    for ((rep = 0; rep < repeat; rep++)); do
        for name in tw rd rm; do
            rm -rf "$drive_c/bench/tree-$name"
            cp -a "$template" "$drive_c/bench/tree-$name"
        done
        sync
        bench remove 'C:\bench\tree-tw'
        tw+=("$(result remove_ms)")
        # Taken now: the next bench run replaces the output.
        gaps+=("$(result remove_longest_queue_gap_ms)")
        [[ $(result remove_message) == 目录已删除 ]] || {
            say "  RemoveDirectoryTree: $(result remove_message)"
            exit 1
        }
        bench run 1 'cmd /c rd /s /q C:\bench\tree-rd'
        rd+=("$(result run_ms)")
        started=$(date +%s%N)
        rm -rf "$drive_c/bench/tree-rm"
        rm_times+=("$(awk -v a="$started" -v b="$(date +%s%N)" 'BEGIN {print (b - a) / 1e6}')")
        for name in tw rd rm; do
            if [[ -e $drive_c/bench/tree-$name ]]; then
                say "  tree-$name is still there"
                exit 1
            fi
        done
        say "  $rep: RemoveDirectoryTree ${tw[-1]} ms, rd /s /q ${rd[-1]} ms, rm -rf ${rm_times[-1]} ms"
        say "  $rep: longest time without a look at the window's queue: ${gaps[-1]} ms"
    done
    rm -rf "$template"
    figure[rm_tw_$scale]=$(median <<<"${tw[*]}")
    # cmd.exe's own start and exit are not part of the removal.
    figure[rm_rd_$scale]=$(awk -v a="$(median <<<"${rd[*]}")" -v b="$cmd_start" \
        'BEGIN {print (a - b > 0) ? a - b : 0}')
    figure[rm_rm_$scale]=$(median <<<"${rm_times[*]}")
    figure[rm_entries_$scale]=$expected
}

measure_tree() {
    local items=$1
    say "result tree: $items items"
    bench tree "$items" "$repeat"
    figure[tree_$items]=$(result tree_build_ms)
    figure[tree_paint_$items]=$(result tree_paint_ms)
    figure[tree_nodes_$items]=$(result tree_nodes)
    say "  longest time without a look at the window's queue: $(result tree_longest_queue_gap_ms) ms"
}

bench run 5 'cmd /c rem'
cmd_start=$(result run_ms)
say "cmd.exe start and exit: $cmd_start ms (subtracted from rd /s /q)"

wanted() { [[ $only == *" $1 "* ]]; }
for scale in $scales; do
    if wanted scan; then measure_scan "$scale"; fi
done
for scale in $scales; do
    if wanted removal; then measure_removal "$scale"; fi
done
tree_sizes=()
if wanted tree; then
    for scale in $scales; do
        tree_sizes+=($((10000 / scale)))
    done
    # The growth from 10,000 to 100,000 items.
    if [[ " $scales " == *" 1 "* ]]; then
        tree_sizes+=(100000)
    fi
fi
for items in "${tree_sizes[@]}"; do
    measure_tree "$items"
done

# --- Report -----------------------------------------------------------------------------------

wine_version=$("$wine64" --version 2>/dev/null || echo wine)
os=$(. /etc/os-release 2>/dev/null && echo "$PRETTY_NAME" || uname -s)
printf '\nTidewell benchmarks, %s: %s cores, %s, %s, %s, medians of %s\n\n' \
    "$(date +%Y-%m-%d)" "$(nproc)" "$os" "$wine_version" \
    "$(if [[ -n ${BENCH_EXE:-} ]]; then echo "program $BENCH_EXE"; else echo "x86_64 Release build"; fi)" \
    "$repeat"
printf '%-44s %12s %12s %12s %8s  %s\n' "measure" "floor" "peer" "Tidewell" "ratio" "goal"
row() { printf '%-44s %12s %12s %12s %8s  %-18s %s\n' "$1" "$2" "$3" "$4" "$5" "$6" "${7:-}"; }
size_label() { if (($1 == 1)); then echo "full"; else echo "1/$1"; fi; }
for scale in $scales; do
    wanted scan || break
    row "scan, $(size_label "$scale") (${figure[scan_items_$scale]} items) ms" \
        "$(fmt "${figure[scan_floor_$scale]}")" "-" "$(fmt "${figure[scan_tw_$scale]}")" \
        "$(ratio "${figure[scan_tw_$scale]}" "${figure[scan_floor_$scale]}")x" "<= 1.2x floor"
done
for scale in $scales; do
    wanted removal || break
    row "tree removal, $(size_label "$scale") ($((${figure[rm_entries_$scale]} - 1)) entries) ms" \
        "$(fmt "${figure[rm_rm_$scale]}")" "$(fmt "${figure[rm_rd_$scale]}")" \
        "$(fmt "${figure[rm_tw_$scale]}")" \
        "$(ratio "${figure[rm_tw_$scale]}" "${figure[rm_rd_$scale]}")x" "<= 1.0x rd /s /q" \
        "(floor: rm -rf, $(ratio "${figure[rm_tw_$scale]}" "${figure[rm_rm_$scale]}")x)"
done
tree_goal() {
    case $1 in
    10000) echo "< 200 ms" ;;
    100000) echo "< 1500 ms" ;;
    esac
}
for items in "${tree_sizes[@]}"; do
    row "populateTree, $items items (${figure[tree_nodes_$items]} nodes) ms" "-" "-" \
        "$(fmt "${figure[tree_$items]}")" "-" \
        "$(tree_goal "$items")" \
        "(first paint $(fmt "${figure[tree_paint_$items]}") ms)"
done

printf '\ngrowth (ten times the size; 10.0x is linear)\n'
small=$(echo "$scales" | awk '{print $1}')
if [[ $small != 1 && " $scales " == *" 1 "* ]] && wanted scan; then
    printf '  scan:         floor %sx, Tidewell %sx\n' \
        "$(ratio "${figure[scan_floor_1]}" "${figure[scan_floor_$small]}")" \
        "$(ratio "${figure[scan_tw_1]}" "${figure[scan_tw_$small]}")"
fi
if [[ $small != 1 && " $scales " == *" 1 "* ]] && wanted removal; then
    printf '  tree removal: rm -rf %sx, rd /s /q %sx, Tidewell %sx\n' \
        "$(ratio "${figure[rm_rm_1]}" "${figure[rm_rm_$small]}")" \
        "$(ratio "${figure[rm_rd_1]}" "${figure[rm_rd_$small]}")" \
        "$(ratio "${figure[rm_tw_1]}" "${figure[rm_tw_$small]}")"
fi
for ((i = 1; i < ${#tree_sizes[@]}; i++)); do
    from=${tree_sizes[i - 1]}
    to=${tree_sizes[i]}
    if ((to == from * 10)); then
        printf '  populateTree: %s -> %s items %sx\n' "$from" "$to" \
            "$(ratio "${figure[tree_$to]}" "${figure[tree_$from]}")"
    fi
done
