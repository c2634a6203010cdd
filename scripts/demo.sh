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
build/encoder/tav_e "$input" -o "$tmp/sample.tav" "$@"
(cd "$tmp" && "$OLDPWD/build/decoder/tav_d" sample.tav sample.unp | tr '\r' '\n' | tail -n 2)
cmp "$input" "$tmp/sample.unp" && echo "round trip: identical"
in=$(stat -c %s "$input"); out=$(stat -c %s "$tmp/sample.tav")
awk -v i="$in" -v o="$out" 'BEGIN { printf "%d -> %d bytes, %.3f bits per byte\n", i, o, 8*o/i }'
