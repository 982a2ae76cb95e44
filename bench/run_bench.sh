#!/usr/bin/env bash
# Runs the benchmarks of a native build and prints one table: each figure of
# the program beside the limit for the same work, and how many times slower
# it is. Then the real-time headroom runs (headroom.sh).
#   bash bench/run_bench.sh build/native
# BENCH_REPETITIONS (default 3) sets the repetitions; medians are reported.
set -euo pipefail

build=${1:-build/native}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bench=$build/asioloop_bench
program=$build/asioloop
repetitions=${BENCH_REPETITIONS:-3}
for exe in "$bench" "$program"; do
    [[ -x $exe ]] || { echo "$exe is missing: build first (cmake --build --preset native)" >&2; exit 1; }
done
source "$here/sim_run.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/asioloop-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/files"

echo "Running the micro-benchmarks ($repetitions repetitions each)..." >&2
ASIOLOOP_TEMP_DIR=$work/files "$bench" --benchmark_min_time=0.05 \
    --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/bench.csv" --benchmark_out_format=csv >"$work/bench.log" 2>&1 ||
    { cat "$work/bench.log" >&2; exit 1; }

# The whole run: free-running clock, 8 inputs of 16 bits. At a real-time
# factor of 500, 2 s keep about 0.8 GB of values in memory and write about
# 2 GB of captures and report.
run_seconds=2
free_mb=$(df -Pm "$work" | awk 'NR == 2 { print $4 }')
avail_mb=$(awk '/^MemAvailable:/ { print int($2 / 1024) }' /proc/meminfo)
rtf_list=""
if ((free_mb < 4096 || avail_mb < 2048)); then
    echo "Skipping the whole run: needs 4 GB free in $work (has $free_mb MB) and 2 GB of memory (has $avail_mb MB)" >&2
else
    echo "Running the program on the free-running simulated device..." >&2
    write_config "$work/freewheel.json" freewheel 48000 256 8 16 '"noise": 0,'
    for ((r = 0; r < repetitions; r++)); do
        run_program "$program" "$work/freewheel.json" "$run_seconds" "$work"
        bytes=$(awk '/^callbacks in 0:/ { sub("bytes=", "", $5); print $5 }' "$work/trace.txt")
        rtf_list+=" $(awk -v b="${bytes:-0}" -v s="$WAITED" 'BEGIN { printf "%.1f", b / 2 / (48000 * s) }')"
    done
fi

awk -F, -v rtf="$rtf_list" '
    # CSV rows of the medians: "name_median",iterations,real,cpu,unit,bytes/s,items/s,...
    $1 ~ /_median"$/ {
        name = $1; gsub(/"/, "", name); sub(/_median$/, "", name); sub(/\/min_time:[^\/]*/, "", name); sub(/\/real_time$/, "", name)
        items[name] = $7; bytes[name] = $6
    }
    function ns(name) { return items[name] > 0 ? 1e9 / items[name] : 0 }
    function row(what, measured, limit, slower) {
        printf "%-34s %-22s %-40s %8s\n", what, measured, limit, slower
    }
    function ratio(a, b) { return b > 0 ? sprintf("%.1fx", a / b) : "-" }
    function median(list,    n, v, i, j, t) {
        n = split(list, v, " ")
        for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
        return n == 0 ? "" : (n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2)
    }
    END {
        row("figure", "measured", "limit", "slower")
        row("------", "--------", "-----", "------")
        split("playbackProc captureProc", procs, " ")
        for (p = 1; p <= 2; p++)
            for (w = 2; w <= 4; w++)
                for (s = 32; s <= 2048; s *= 2) {
                    key = s "/" w
                    a = ns("BM_" procs[p] "/" key); b = ns("BM_memcpy/" key)
                    row(sprintf("%-13s %4d x %d B", procs[p], s, w), sprintf("%.3f ns/sample", a),
                        sprintf("memcpy %.3f ns/sample", b), ratio(a, b))
                }
        a = items["BM_analysePeaks"] / 1e6; b = items["BM_plainScan"] / 1e6; c = items["BM_blockScan"] / 1e6
        row("analysePeaks 8 x 1M", sprintf("%.0f M values/s", a), sprintf("plain scan %.0f M values/s", b), ratio(b, a))
        row("analysePeaks 8 x 1M", sprintf("%.0f M values/s", a), sprintf("vectorised scan %.0f M values/s", c), ratio(c, a))
        a = bytes["BM_writeSampleReport"] / 1e6; b = bytes["BM_reportLimit"] / 1e6
        row("writeSampleReport 8 x 1M", sprintf("%.0f MB/s", a), sprintf("to_chars + big writes %.0f MB/s", b), ratio(b, a))
        m = median(rtf)
        if (m == "") row("whole run, freewheel 8 x 16 bit", "skipped", "goal RTF 500", "-")
        else row("whole run, freewheel 8 x 16 bit", sprintf("RTF %.0f", m), "goal RTF 500", ratio(500, m))
        print ""
        print "Medians of the repetitions, from wall-clock time. \"slower\" is measured cost over the limit'"'"'s."
        if (items["BM_newMemory"] > 0)
            printf "Writing fresh memory (page faults included) costs %.2f ns per 2-byte value here: captureProc keeps\n" \
                   "every value in new memory, so memcpy into warm buffers is a floor it cannot reach.\n", ns("BM_newMemory")
        if (m != "") print "Whole-run real-time factors:" rtf " (samples of input 0 over 48000 x seconds waited)."
    }' "$work/bench.csv"

echo
bash "$here/headroom.sh" "$build"
