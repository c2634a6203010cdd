#!/usr/bin/env bash
# Builds the programs and runs the codec's main job on the bundled sample:
# compress with tav_e, decompress with tav_d, compare, print ratio and speed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

input=${1:-samples/licenses.txt}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
shift || true
build/programs/tav_e "$input" -o "$tmp/sample.tav" "$@"
t0=$(date +%s.%N)
(cd "$tmp" && "$OLDPWD/build/programs/tav_d" sample.tav sample.unp | tr '\r' '\n' | tail -n 2)
t1=$(date +%s.%N)
cmp "$input" "$tmp/sample.unp" && echo "round trip: identical"
in=$(stat -c %s "$input"); out=$(stat -c %s "$tmp/sample.tav")
awk -v i="$in" -v o="$out" -v t0="$t0" -v t1="$t1" 'BEGIN {
  printf "%d -> %d bytes, %.3f bits per byte", i, o, 8*o/i
  if (t1 > t0) printf ", decompression %.2f MB/s (whole process)", i / (t1 - t0) / 1e6
  printf "\n" }'
