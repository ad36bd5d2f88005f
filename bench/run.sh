#!/usr/bin/env bash
# Reads a large synthetic log (1 GiB unless a size in MiB is given: a mix of
# record kinds and payload sizes, most events decoded by the program's
# templates) in every output and reading mode, and reports for each the wall
# time, the CPU time (user + system, steadier than wall time on a busy
# machine), input MB/s by CPU time, the same with the start-up's CPU time
# taken off (the reading itself), events/s and peak memory (maximum resident
# set size). Then a log of 72-byte buffers, whose number must not make memory
# grow. The machine's load is printed first and last.
# Run by hand from the top of the repository after `make build`:
#   bench/run.sh [size in MiB]
set -euo pipefail
size=${1:-1024}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
echo "load: $(uptime)"
./build/bench/make_big_log "$dir/big.etl" "$size"
bytes=$(stat -c %s "$dir/big.etl")
events=$(./build/vesk -log "$dir/big.etl" -quiet -stats |
  awk -F'|' 'NF == 2 && $2 !~ /occurances/ { n += $2 } END { print n }')
# Start-up alone: the templates are loaded, then a log of one zeroed header.
head -c 386 /dev/zero >"$dir/empty.etl"
/usr/bin/time -f "%U %S" -o "$dir/time" ./build/vesk -log "$dir/empty.etl" -quiet -stats >/dev/null
read -r user sys <"$dir/time"
startup=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
echo "log: $bytes bytes, $events events; start-up $startup s CPU"
measure() {
  local name=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$dir/time" ./build/vesk -log "$dir/big.etl" -quiet "$@" >/dev/null
  read -r secs user sys kb <"$dir/time"
  awk -v n="$name" -v w="$secs" -v u="$user" -v s="$sys" -v st="$startup" \
      -v b="$bytes" -v e="$events" -v k="$kb" 'BEGIN {
    c = u + s; r = c - st
    printf "%-10s %6.2f s wall %6.2f s cpu %6.0f MB/s %6.0f MB/s reading %10.0f events/s %6.1f MiB\n",
      n, w, c, b / 1e6 / c, (r > 0 ? b / 1e6 / r : 0), e / c, k / 1024 }'
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
/usr/bin/time -f "tiny -stats %e s wall, %U s user + %S s sys, %M KB" -o "$dir/time" \
  ./build/vesk -log "$dir/tiny.etl" -quiet -stats >/dev/null
cat "$dir/time"
echo "load: $(uptime)"
