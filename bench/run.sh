#!/usr/bin/env bash
# Reads a large synthetic log (1 GiB unless a size in MiB is given: a mix of
# record kinds and payload sizes, most events decoded by the program's
# templates) in every output and reading mode, and reports for each the wall
# time, input MB/s, events/s and peak memory (maximum resident set size).
# Then a log of 72-byte buffers, whose number must not make memory grow.
# Run by hand from the top of the repository after `make build`:
#   bench/run.sh [size in MiB]
set -euo pipefail
size=${1:-1024}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
./build/bench/make_big_log "$dir/big.etl" "$size"
bytes=$(stat -c %s "$dir/big.etl")
events=$(./build/vesk -log "$dir/big.etl" -quiet -stats |
  awk -F'|' 'NF == 2 && $2 !~ /occurances/ { n += $2 } END { print n }')
echo "log: $bytes bytes, $events events"
measure() {
  local name=$1
  shift
  /usr/bin/time -f "%e %M" -o "$dir/time" ./build/vesk -log "$dir/big.etl" -quiet "$@" >/dev/null
  read -r secs kb <"$dir/time"
  awk -v n="$name" -v s="$secs" -v b="$bytes" -v e="$events" -v k="$kb" 'BEGIN {
    printf "%-10s %7.2f s %8.0f MB/s %10.0f events/s %7.1f MiB\n", n, s, b / 1e6 / s, e / s, k / 1024 }'
}
measure table
measure -csv -csv
measure -csvl2t -csvl2t
measure -stats -stats
measure -guids -guids
measure -pullguid -pullguid e13c0d23-ccbc-4e12-931b-d9cc2eee27e4 -out "$dir/reduced.etl"
# Many tiny buffers: 64 MiB of 72-byte buffer headers. Memory must not grow
# with the number of buffers.
rm -f "$dir/big.etl" "$dir/reduced.etl"
./build/bench/make_big_log "$dir/tiny.etl" 64 72
/usr/bin/time -f "tiny -stats %e s, %M KB" ./build/vesk -log "$dir/tiny.etl" -quiet -stats >/dev/null
