# Shared by run_bench.sh and headroom.sh (sourced, not run): one run of the
# real program on a simulated device, timed from outside.

# write_config FILE CLOCK RATE BUFFER INPUTS FORMAT NOISE: a device with two
# outputs and INPUTS inputs, all of FORMAT, output 0 wired to input 0. NOISE
# is a JSON member with its comma ("\"noise\": 0,"), or empty for the
# stand-in's own faint noise.
write_config() {
    local file=$1 clock=$2 rate=$3 buffer=$4 inputs=$5 format=$6 noise=$7
    local list="" i
    for ((i = 0; i < inputs; i++)); do list+="${list:+, }{\"format\": $format}"; done
    cat >"$file" <<JSON
{"devices": [{"name": "Bench", "clock": "$clock", "sampleRate": $rate, "bufferSamples": $buffer, $noise
  "outputs": [{"format": $format}, {"format": $format}],
  "inputs": [$list],
  "routes": [{"from": 0, "to": 0, "latency": 100}]}]}
JSON
}

# run_program EXE CONFIG SECONDS DIR: runs asioloop for SECONDS on the device
# of CONFIG with its files in DIR/files and its trace in DIR/trace.txt, then
# deletes the files. Sets WAITED to the seconds from the answer to the end of
# the run, as seen from outside (start, wait, stop and release).
run_program() {
    local exe=$1 config=$2 seconds=$3 dir=$4 part="" text="" line="" t0 t1
    rm -rf "$dir/files" "$dir/trace.txt"
    mkdir -p "$dir/files"
    coproc RUN { ASIOSIM_CONFIG=$config ASIOSIM_TRACE=$dir/trace.txt ASIOLOOP_TEMP_DIR=$dir/files "$exe" 2>&1; }
    local pid=$RUN_PID out=${RUN[0]} in=${RUN[1]}
    # The question has no line end; it reaches us when the program reads the
    # answer, so the answer goes only once the question is seen.
    while IFS= read -r -d ')' -u "$out" part; do
        text+="$part)"
        [[ $text == *"terminates early)" ]] && break
    done
    t0=$EPOCHREALTIME
    printf '%s\n' "$seconds" >&"$in"
    while IFS= read -r -u "$out" line; do [[ $line == *Deintialised* ]] && break; done
    t1=$EPOCHREALTIME
    cat <&"$out" >/dev/null
    wait "$pid"
    rm -rf "$dir/files"
    WAITED=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')
}
