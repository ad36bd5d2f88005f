#!/usr/bin/env bash
# Reads a large synthetic log (1 GiB unless a size in MiB is given) in each
# reading mode and reports the wall time and the peak memory (maximum
# resident set size) of each. Run by hand from the top of the repository
# after `make build`:
#   bench/run.sh [size in MiB]
set -euo pipefail
size=${1:-1024}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
./build/bench/make_big_log "$dir/big.etl" "$size"
ls -l "$dir/big.etl"
measure() {
  echo "== vesk -log big.etl $*"
  /usr/bin/time -v ./build/vesk -log "$dir/big.etl" -quiet "$@" 2>&1 >/dev/null |
    grep -E 'Elapsed|Maximum resident'
}
measure -stats
measure -guids
measure -pullguid 8e805eb3-6a8f-4a1e-90fa-a831d94e54a1 -out "$dir/reduced.etl"
ls -l "$dir/reduced.etl"
# Many tiny buffers: 64 MiB of 72-byte buffer headers. Memory must not grow
# with the number of buffers.
rm -f "$dir/big.etl" "$dir/reduced.etl"
./build/bench/make_big_log "$dir/tiny.etl" 64 72
ls -l "$dir/tiny.etl"
echo "== vesk -log tiny.etl -stats"
/usr/bin/time -v ./build/vesk -log "$dir/tiny.etl" -quiet -stats 2>&1 >/dev/null |
  grep -E 'Elapsed|Maximum resident'
