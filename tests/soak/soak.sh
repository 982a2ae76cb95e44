#!/bin/bash
# A long run, not part of the test suite: 16 inputs in 24-bit for ten minutes
# (SOAK_SECONDS) on the simulated device in real time. Checks that every
# capture file holds every byte the library delivered, that the memory the
# program keeps stays at the 2 bytes per sample per input that the recorded
# values need (x1.3, plus a constant), and that the worst callback of the
# last minute is no worse than the first minute's (within 2x + 1 ms, for a
# shared machine's noise).
#   soak.sh BUILD_FOLDER
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${SOAK_SECONDS:-600}
allowanceMiB=${SOAK_ALLOWANCE_MIB:-32}
work=$(mktemp -d /tmp/asioloop-soak-XXXXXX)
trap 'rm -rf "$work"' EXIT

inputs=$(printf '{"format": 17}, %.0s' $(seq 15))'{"format": 17}'
cat >"$work/device.json" <<JSON
{"devices": [{"name": "Soak", "clock": "realtime", "sampleRate": 48000, "bufferSamples": 256,
  "outputs": [{"format": 17}, {"format": 17}], "inputs": [$inputs],
  "routes": [{"from": 0, "to": 0, "latency": 549}, {"from": 1, "to": 15, "latency": 549}]}]}
JSON
mkdir "$work/temp"
export ASIOLOOP_TEMP_DIR=$work/temp ASIOSIM_CONFIG=$work/device.json ASIOSIM_TRACE=$work/trace.txt

echo "soak: $seconds s, 16 inputs of 24-bit at 48 kHz"
echo "$seconds" | "$build/asioloop" >"$work/transcript.txt" &
pid=$!
peakKiB=0
while kill -0 "$pid" 2>/dev/null; do
    hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$hwm" ] && [ "$hwm" -gt "$peakKiB" ] && peakKiB=$hwm
    sleep 1
done
wait "$pid"

status=0
delivered=0
while read -r channel bytes; do
    size=$(stat -c %s "$work/temp/ASIO.Channel(Output).$channel.pcm")
    if [ "$size" -ne "$bytes" ]; then
        echo "FAIL: input $channel: capture holds $size bytes, the library delivered $bytes"
        status=1
    fi
    delivered=$((delivered + bytes))
done < <(sed -n 's/^callbacks in \([0-9]*\): calls=[0-9]* bytes=\([0-9]*\).*/\1 \2/p' "$work/trace.txt")

# Every whole 3-byte sample is kept as 2 bytes.
neededKiB=$((delivered / 3 * 2 / 1024))
limitKiB=$((neededKiB * 13 / 10 + allowanceMiB * 1024))
echo "captures: $delivered bytes delivered, all of them on disk"
echo "memory: peak resident $((peakKiB / 1024)) MiB; the recorded values need $((neededKiB / 1024)) MiB;" \
    "limit 1.3 x that + $allowanceMiB MiB = $((limitKiB / 1024)) MiB"
grep -E '^(callbacks in (0|15)|ticks):' "$work/trace.txt"
# The worst callback late in the run against the first minute's: a list that
# copied what it holds to grow would show here as a rising worst case.
while read -r channel values; do
    first=${values%%,*}
    last=${values##*,}
    echo "input $channel: worst callback ${first} us in the first minute, ${last} us in the last"
    if awk -v f="$first" -v l="$last" 'BEGIN { exit !(l > 2 * f + 1000) }'; then
        echo "FAIL: input $channel's worst callback grew with the run"
        status=1
    fi
done < <(sed -n 's/^callbacks in \([0-9]*\) by minute: max_us=\(.*\)/\1 \2/p' "$work/trace.txt")
if [ "$peakKiB" -gt "$limitKiB" ]; then
    echo "FAIL: memory above the limit"
    status=1
fi
[ "$status" -eq 0 ] && echo "soak: passed"
exit "$status"
