#!/usr/bin/env bash
# Start-up and template compilation. A run over a tiny log is mostly the
# loading of templates: its instructions (callgrind, the same whatever the
# machine's load), its time over repeated runs and its peak memory. Then
# -templates files built to defeat a template store that expands its id
# ranges, and a damaged template block given to a copy of the program:
# each with its wall time, peak memory and exit status.
# Run by hand from the top of the repository after `make build`:
#   bench/startup.sh [tiny log]
set -euo pipefail
vesk=./build/vesk
log=${1:-../shared/samples/perfview_smallEtlFile.etl}
if [ ! -f "$log" ]; then
  echo "no log at $log: name a small .etl file" >&2
  exit 1
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
echo "machine load: $(cut -d' ' -f1-3 /proc/loadavg)"

# The default log's second buffer is compressed: a run over it ends with 1,
# having named the buffer it did not read.
read_tiny() { "$vesk" -log "$log" -quiet >/dev/null 2>&1 || [ $? -eq 1 ]; }

if command -v valgrind >/dev/null; then
  valgrind --tool=callgrind --callgrind-out-file="$dir/cg" "$vesk" -log "$log" -quiet \
    >/dev/null 2>"$dir/cg.err" || [ $? -eq 1 ]
  awk '/refs:/ { gsub(",", "", $NF); printf "start-up: %.1f M instructions\n", $NF / 1e6 }' "$dir/cg.err"
fi
runs=50
start=$(date +%s%N)
for _ in $(seq $runs); do read_tiny; done
end=$(date +%s%N)
awk -v t=$((end - start)) -v n=$runs 'BEGIN { printf "start-up: %.2f ms a run (wall, %d runs)\n", t / n / 1e6, n }'
/usr/bin/time -o "$dir/time" -f "start-up: %e s, %M KB peak" "$vesk" -log "$log" -quiet >/dev/null 2>&1 ||
  [ $? -eq 1 ]
cat "$dir/time"

# Catch-all ranges under new providers, one range under 1,000 builds, and one
# line repeated: each line's ids must stay one range, not 65,536 entries.
guid() { printf '%08x-0000-4000-8000-%012x' "$1" "$2"; }
for i in $(seq 1000); do echo "$(guid "$i" 0) ! evt \$0-65535, LF, 0x0008"; done >"$dir/ranges1000.txt"
head -100 "$dir/ranges1000.txt" >"$dir/ranges100.txt"
{
  printf '%s ! evt $0-65535' "$(guid 0 1)"
  for b in $(seq 1000 1999); do printf ', #%d' "$b"; done
  echo ', LF, 0x0008'
} >"$dir/selectors1000.txt"
line="$(guid 0 2)!evt\$0-65535,LF,0x0008"
for _ in $(seq 10000); do echo "$line"; done >"$dir/repeated10000.txt"
for f in ranges100 ranges1000 selectors1000 repeated10000; do
  /usr/bin/time -o "$dir/time" -f "$f: %e s, %M KB peak, status %x" \
    "$vesk" -log "$log" -quiet -templates "$dir/$f.txt" >/dev/null 2>&1 || true
  cat "$dir/time"
done

# A 1.6 KB block of 50 chunks that each claim every event id of one
# provider, put behind a copy of the program with the locator pointed at it.
cp "$vesk" "$dir/vesk"
python3 - "$dir/vesk" <<'EOF'
import hashlib, struct, sys
block = bytes([1, 0, 1, 3]) + b"unk"  # field names: one empty; providers: "unk"
provider = bytes(range(16))
for i in range(50):
    # no selectors, the GUID, no name, range 0-65535, no ids, one field
    body = bytes([0]) + provider + struct.pack("<HBHH", 0, 1, 0, 65535) + bytes([0, 1])
    body += struct.pack("<HH", 8 + i, 0)
    block += struct.pack("<H", len(body)) + body
data = bytearray(open(sys.argv[1], "rb").read())
marker = b"VESK_TEMPLATE_DB"
assert data.count(marker) == 1, "the locator's marker must appear once"
at = data.find(marker) + len(marker)
data[at:at + 24] = struct.pack("<II", len(data), len(block)) + hashlib.md5(block).digest()
open(sys.argv[1], "wb").write(data + block)
EOF
/usr/bin/time -o "$dir/time" -f "damaged block: %e s, %M KB peak, status %x" \
  "$dir/vesk" -log "$log" -quiet >/dev/null || true
cat "$dir/time"
