#!/usr/bin/env bash
# The real-time headroom of the callbacks on the simulated device's real-time
# clock, 16 inputs of 24 bits, from the timing the stand-in traces after a run:
#   (a) 48 kHz, 256-sample buffers: the slowest tick must end within the
#       period, and the slowest callback within a quarter of it;
#   (b) 192 kHz, 64-sample buffers: 99 % of the calls of every callback within
#       a quarter of the period.
# Late ticks and the slowest call of (b) are shown, not judged: on a shared
# machine one preemption makes them.
#   bash bench/headroom.sh build/native      (HEADROOM_SECONDS, default 10)
set -euo pipefail

build=${1:-build/native}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=$build/asioloop
seconds=${HEADROOM_SECONDS:-10}
[[ -x $program ]] || { echo "$program is missing: build first" >&2; exit 1; }
source "$here/sim_run.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/asioloop-headroom-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Prints the figures of one run's trace against the goals of its case.
judge() {
    awk -v case="$1" '
        /^callbacks / {
            for (i = 4; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] + 0 }
            if (f["max_us"] > maxUs) maxUs = f["max_us"]
            if (f["p99_us"] > p99Us) p99Us = f["p99_us"]
        }
        /^ticks: / {
            for (i = 2; i <= NF; i++) { split($i, kv, "="); t[kv[1]] = kv[2] + 0 }
        }
        function verdict(ok) { return ok ? "PASS" : "FAIL" }
        END {
            period = t["period_us"]; quarter = period / 4
            if (case == "a") {
                printf "  max_tick_us %9.1f  <  period_us %9.1f       %s\n", t["max_tick_us"], period, verdict(t["max_tick_us"] < period)
                printf "  worst max_us %8.1f  <  period/4 %10.1f       %s\n", maxUs, quarter, verdict(maxUs < quarter)
            } else {
                printf "  worst p99_us %8.1f  <  period/4 %10.1f       %s\n", p99Us, quarter, verdict(p99Us < quarter)
                printf "  worst max_us %8.1f     (period %.1f; recorded, not judged)\n", maxUs, period
            }
            printf "  late ticks %d of %d     (recorded, not judged)\n", t["late"], t["count"]
        }' "$work/trace.txt"
}

echo "Real-time headroom, realtime clock, 2 outputs and 16 inputs of 24 bits, $seconds s each"
echo "(a) 48 kHz, 256-sample buffers"
write_config "$work/a.json" realtime 48000 256 16 17 ""
run_program "$program" "$work/a.json" "$seconds" "$work"
judge a
echo "(b) 192 kHz, 64-sample buffers"
write_config "$work/b.json" realtime 192000 64 16 17 ""
run_program "$program" "$work/b.json" "$seconds" "$work"
judge b
