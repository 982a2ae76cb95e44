#!/bin/bash
# Runs one fuzz target for a bounded time, keeping its corpus and any failing
# input beside the build.
#   run_fuzz.sh TARGET SECONDS
set -euo pipefail
target=$1
seconds=$2
name=$(basename "$target")
work=$(dirname "$target")/fuzz-runs/$name
mkdir -p "$work/corpus" "$work/artifacts"
exec "$target" -max_total_time="$seconds" -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus"
