#!/bin/bash
# A normal run of the program on the built-in simulated device under
# valgrind's memcheck: no error, and nothing definitely lost.
#   run_memcheck.sh PROGRAM
set -euo pipefail
program=$1
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
export ASIOLOOP_TEMP_DIR=$folder ASIOSIM_CONFIG= ASIOSIM_TRACE=
echo 1 | valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=definite "$program" >"$folder/transcript.txt"
grep -q '^Max Abs ' "$folder/ASIO PCM.txt"
echo "memcheck: no error, nothing definitely lost; $(wc -l <"$folder/ASIO PCM.txt") report lines"
