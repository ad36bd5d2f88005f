#!/usr/bin/env bash
# Reads a 1 GiB synthetic log with -stats and with the event table, and
# reports the time and the peak memory (maximum resident set size) of each.
# Run by hand from the top of the repository after `make build`:
#   bench/run.sh [size in MiB]
set -euo pipefail
size=${1:-1024}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
./build/bench/make_big_log "$dir/big.etl" "$size"
ls -l "$dir/big.etl"
for mode in -stats -guids ""; do
  echo "== vesk -log big.etl $mode -quiet"
  /usr/bin/time -v ./build/vesk -log "$dir/big.etl" $mode -quiet -out "$dir/out.txt" 2>&1 >/dev/null |
    grep -E 'Elapsed|Maximum resident'
done
