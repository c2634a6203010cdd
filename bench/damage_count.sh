#!/usr/bin/env bash
# How many damaged copies of a small tav_e file decode silently to wrong text:
# every truncation length and 1000 single-byte changes (fixed seed) of the
# first 60000 bytes of samples/licenses.txt compressed with the default preset.
#   bench/damage_count.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-damage"}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAV_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target tav_e damage_count >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 60000 "$root/samples/licenses.txt" >"$work/t.txt"
"$build/programs/tav_e" -q "$work/t.txt" -o "$work/t.tav"
echo "$(stat -c %s "$work/t.txt") bytes of text -> $(stat -c %s "$work/t.tav") bytes"
"$build/bench/damage/damage_count" "$work/t.tav" "$work/t.txt" 1000
