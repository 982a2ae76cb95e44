#!/bin/bash
# Runs the real program on a private JACK server (the dummy driver, no
# realtime) and checks what it measures. Usage:
#
#   jack_test.sh roundtrip PERIOD ASIOLOOP  the looped impulse lands where jack_iodelay measures
#   jack_test.sh failures ASIOLOOP          a taken name, no server, a connection that fails
#   jack_test.sh shutdown ASIOLOOP          the server dies during the run
#   jack_test.sh interrupt ASIOLOOP         JACK's threads block CTRL+C; the program still takes it
#   jack_test.sh bufsize ASIOLOOP           the server's buffer size changes during the run
#
# Each run starts its own server under a name of its own, and stops it and
# every other process it started on the way out, whatever happens. Every
# wait is bounded.
set -u

mode=$1
shift
period=256
if [ "$mode" = roundtrip ]; then
    period=$1
    shift
fi
asioloop=$1
rate=48000

work=$(mktemp -d "${TMPDIR:-/tmp}/asioloop-jack.XXXXXX")
export JACK_DEFAULT_SERVER="asioloop-test-$$"
jackd_pid=""
iodelay_pid=""
program_pid=""

# Ends a process of ours: politely, then for certain.
end_process() {
    local pid=$1
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

cleanup() {
    for pid in "$program_pid" "$iodelay_pid" "$jackd_pid"; do
        [ -n "$pid" ] && end_process "$pid"
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL ($mode): $*" >&2
    for f in out.txt err.txt trace jackd.log iodelay.txt; do
        [ -f "$work/$f" ] && { echo "--- $f" >&2; tr '\r' '\n' <"$work/$f" | tail -n 30 >&2; }
    done
    exit 1
}

start_server() {
    jackd --no-realtime -d dummy -r "$rate" -p "$period" >"$work/jackd.log" 2>&1 &
    jackd_pid=$!
    jack_wait -w -t 10 >/dev/null 2>&1 || fail "the server did not come up"
}

stop_server() {
    end_process "$jackd_pid"
    jackd_pid=""
}

# A device looping out_1 to in_1 (16-bit) and out_2 to in_2 (32-bit). With
# padding, eight more outputs are wired to the server's playback ports
# first, so that the loops are made several cycles (at 32 frames) after the
# client's cycles have begun.
write_config() {  # file [extra keys] [connection of out_2] [padding]
    local second=${3:-'["asioloop:out_2", "asioloop:in_2"]'}
    local outputs='{"name": "out_1", "format": 16}, {"name": "out_2", "format": 18}'
    local connections=""
    if [ -n "${4:-}" ]; then
        for n in 1 2 3 4 5 6 7 8; do
            outputs+=", {\"name\": \"pad_$n\"}"
            connections+="[\"asioloop:pad_$n\", \"system:playback_1\"], [\"asioloop:pad_$n\", \"system:playback_2\"], "
        done
    fi
    cat >"$1" <<EOF
{"devices": [{"name": "JACK loop", "backend": "jack"$2,
  "outputs": [$outputs],
  "inputs": [{"name": "in_1", "format": 16}, {"name": "in_2", "format": 18}],
  "connections": [$connections["asioloop:out_1", "asioloop:in_1"], $second]}]}
EOF
}

# Starts the program in the background with the answer for the seconds. A
# script's background jobs ignore SIGINT; env gives the program the default
# back, as a console would.
start_program() {  # config seconds
    rm -rf "$work/files" "$work/trace"
    mkdir "$work/files"
    printf '%s\n' "$2" | ASIOLOOP_TEMP_DIR="$work/files" ASIOSIM_CONFIG="$1" ASIOSIM_TRACE="$work/trace" \
        env --default-signal=INT "$asioloop" >"$work/out.txt" 2>"$work/err.txt" &
    program_pid=$!
}

# Waits for the program to end by itself (60 s at most, or the tenths of a
# second given), and keeps its exit status.
wait_program() {
    for _ in $(seq "${1:-600}"); do
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$program_pid" 2>/dev/null && fail "the program did not end"
    wait "$program_pid"
    status=$?
    program_pid=""
}

run_program() {  # config seconds
    start_program "$1" "$2"
    wait_program
}

wait_for_trace() {  # pattern
    for _ in $(seq 300); do
        grep -qx -- "$1" "$work/trace" 2>/dev/null && return 0
        kill -0 "$program_pid" 2>/dev/null || break
        sleep 0.1
    done
    fail "the trace never showed: $1"
}

trace_has() { grep -qx -- "$1" "$work/trace" || fail "the trace lacks: $1"; }

# Standard error holds exactly this one line (an extended regular expression).
error_line_is() {
    [ "$(wc -l <"$work/err.txt")" -eq 1 ] && grep -qxE -- "$1" "$work/err.txt" ||
        fail "standard error is not the one line $1"
}

report_line1() { head -n 1 "$work/files/ASIO PCM.txt" 2>/dev/null; }

# The frames jack_iodelay measures for a loop of its own on this server.
measure_with_iodelay() {
    stdbuf -o0 jack_iodelay >"$work/iodelay.txt" 2>&1 &
    iodelay_pid=$!
    local connected=""
    for _ in $(seq 100); do
        jack_connect jack_delay:out jack_delay:in >/dev/null 2>&1 && { connected=1; break; }
        sleep 0.1
    done
    [ -n "$connected" ] || fail "could not loop jack_iodelay"
    iodelay_frames=""
    for _ in $(seq 300); do
        # Measured to a fraction of a frame ("31.999 frames"): rounded.
        iodelay_frames=$(tr '\r' '\n' <"$work/iodelay.txt" |
            awk '$2 == "frames" && /total roundtrip latency/ { printf "%d\n", $1 + 0.5; exit }')
        [ -n "$iodelay_frames" ] && break
        sleep 0.1
    done
    end_process "$iodelay_pid"
    iodelay_pid=""
    [ -n "$iodelay_frames" ] || fail "jack_iodelay measured nothing"
}

# Microseconds with one decimal, as the trace writes them.
period_us() {
    local tenths=$(((period * 10000000 + rate / 2) / rate))
    echo "$((tenths / 10)).$((tenths % 10))"
}

field() {  # line key: the value of key=... in a trace line
    sed -n "s/.* $2=\([^ ]*\).*/\1/p" <<<"$1"
}

case "$mode" in
roundtrip)
    start_server
    measure_with_iodelay
    write_config "$work/loop.json" "" "" padding
    run_program "$work/loop.json" 1
    [ "$status" -eq 0 ] || fail "exit status $status"
    [ -s "$work/err.txt" ] && fail "standard error is not empty"
    trace_has "BASS_ASIO_Start(0, 32) = 1"
    trace_has "BASS_ASIO_Stop() = 1"
    expected=$(printf 'Max Abs 32767(sample %s)\tMax Abs 32767(sample %s)\t\r' "$iodelay_frames" "$iodelay_frames")
    [ "$(report_line1)" = "$expected" ] ||
        fail "report line 1 is '$(report_line1 | cat -A)', jack_iodelay measured $iodelay_frames frames"
    # Every cycle delivered calls each callback once, with the server's period.
    ticks=$(grep '^ticks: ' "$work/trace")
    count=$(field "$ticks" count)
    [ "$(field "$ticks" period_us)" = "$(period_us)" ] || fail "ticks line: $ticks"
    [ "$count" -gt 0 ] || fail "no cycle delivered"
    for channel in "out 0:2" "out 1:4" "in 0:2" "in 1:4"; do
        line=$(grep "^callbacks ${channel%:*}: " "$work/trace")
        [ "$(field "$line" calls)" = "$count" ] || fail "$line against $count cycles"
        [ "$(field "$line" bytes)" = "$((count * period * ${channel#*:}))" ] || fail "$line"
    done
    for input in 0:2 1:4; do
        size=$(stat -c %s "$work/files/ASIO.Channel(Output).${input%:*}.pcm")
        [ "$size" -eq "$((count * period * ${input#*:}))" ] || fail "capture ${input%:*} holds $size bytes"
    done
    echo "period $period: asioloop and jack_iodelay both measure $iodelay_frames frames"
    ;;

failures)
    start_server
    # The dummy driver's client is called "system".
    write_config "$work/taken.json" ', "clientName": "system"' '["system:out_2", "system:in_2"]'
    run_program "$work/taken.json" 1
    [ "$status" -eq 0 ] || fail "taken name: exit status $status"
    grep -q '^ Could not initialise audio$' "$work/out.txt" || fail "taken name: no message of the program"
    trace_has "BASS_ASIO_Init(0, 1) = 0"
    error_line_is 'asiosim: JACK: cannot open client "system" on the default server: the server refused it \(is the name taken\?\)'

    write_config "$work/absent.json" ", \"server\": \"$JACK_DEFAULT_SERVER-absent\""
    run_program "$work/absent.json" 1
    trace_has "BASS_ASIO_Init(0, 1) = 0"
    error_line_is "asiosim: JACK: cannot open client \"asioloop\" on server \"$JACK_DEFAULT_SERVER-absent\": no server is running"

    write_config "$work/unknown.json" "" '["asioloop:out_2", "nosuch:in"]'
    run_program "$work/unknown.json" 1
    [ "$status" -eq 0 ] || fail "failed connection: exit status $status"
    trace_has "BASS_ASIO_Start(0, 32) = 0"
    grep -q 'Could not start playback' "$work/out.txt" || fail "failed connection: no message of the program"
    error_line_is 'asiosim: JACK: cannot connect asioloop:out_2 to nosuch:in.*'
    [ "$(report_line1)" = "$(printf 'Max Abs 0(sample -1)\tMax Abs 0(sample -1)\t\r')" ] ||
        fail "failed connection: report line 1 is '$(report_line1 | cat -A)'"
    ;;

shutdown)
    start_server
    write_config "$work/loop.json" ""
    start_program "$work/loop.json" 3
    wait_for_trace "BASS_ASIO_Start(0, 32) = 1"
    stop_server
    wait_program
    [ "$status" -eq 0 ] || fail "exit status $status"
    trace_has "BASS_ASIO_Stop() = 0"
    trace_has "BASS_ASIO_Free() = 1"
    grep -q 'Could not stop device' "$work/out.txt" || fail "no message of the program"
    error_line_is 'asiosim: JACK: the server shut down during the run.*'
    report_line1 | grep -q '^Max Abs' || fail "no report"
    ;;

interrupt)
    start_server
    write_config "$work/loop.json" ""
    start_program "$work/loop.json" 3600
    wait_for_trace "BASS_ASIO_Start(0, 32) = 1"
    # SIGINT is bit 2 of a thread's mask: blocked in every thread but the
    # main one, where the program's handler must still get it.
    threads=0
    for task in /proc/"$program_pid"/task/*; do
        blocked=$((16#$(sed -n 's/^SigBlk:[[:space:]]*//p' "$task/status") & 2))
        if [ "${task##*/}" = "$program_pid" ]; then
            [ "$blocked" -eq 0 ] || fail "the main thread blocks SIGINT"
        else
            [ "$blocked" -ne 0 ] || fail "thread ${task##*/} ($(cat "$task/comm")) takes SIGINT"
            threads=$((threads + 1))
        fi
    done
    [ "$threads" -gt 0 ] || fail "no JACK thread"
    kill -INT "$program_pid"
    wait_program 300
    [ "$status" -eq 0 ] || fail "exit status $status"
    [ -s "$work/err.txt" ] && fail "standard error is not empty"
    trace_has "BASS_ASIO_Stop() = 1"
    trace_has "BASS_ASIO_Free() = 1"
    [ "$(report_line1)" = "$(printf 'Max Abs 32767(sample %s)\tMax Abs 32767(sample %s)\t\r' "$period" "$period")" ] ||
        fail "report line 1 is '$(report_line1 | cat -A)'"
    ;;

bufsize)
    start_server
    write_config "$work/loop.json" ""
    start_program "$work/loop.json" 3
    wait_for_trace "BASS_ASIO_Start(0, 32) = 1"
    jack_bufsize 512 >/dev/null 2>&1 || fail "jack_bufsize failed"
    wait_program
    [ "$status" -eq 0 ] || fail "exit status $status"
    trace_has "BASS_ASIO_Stop() = 1"
    error_line_is "asiosim: JACK: the server's buffer size changed from 256 to 512 frames during the run; [1-9][0-9]* cycles delivered nothing"
    ;;

*)
    fail "unknown mode"
    ;;
esac
exit 0
