#!/usr/bin/env bash
# How well damage is caught, through every entry point: damaged copies of two
# files of members go through tav_d, tav_e -d, tav_e -t and the library's
# tav_decompress (bench/damage/damage_count.cpp says how each result is
# counted).  The files:
#   plain  the first 60000 bytes of samples/licenses.txt as 3 members
#          (tav_e --block-size 20000);
#   long   the same text with its first 20000 bytes appended, so that long
#          repeats exist, as 4 members of tav_e --long --block-size 20000.
# Damage: every cut length, each member dropped, repeated, each pair swapped,
# 1000 single-byte changes (fixed seed), the empty file, 13 bytes of another
# format, the text itself, and the text compressed by xz.  Prints one
# Markdown table per file and every silent case; exits 3 if there was one.
#   bench/damage_count.sh [BUILD_DIR]   (default build-damage; JOBS=N workers, default 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-damage"}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAV_BUILD_BENCH=ON -DTAV_BUILD_TESTS=OFF \
  -DTAV_BUILD_PYTHON=OFF >/dev/null
cmake --build "$build" -j2 --target tav_e tav_d damage_count >/dev/null
tav_e=$build/programs/tav_e
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 60000 "$root/samples/licenses.txt" >"$work/plain.txt"
{ cat "$work/plain.txt"; head -c 20000 "$work/plain.txt"; } >"$work/long.txt"
"$tav_e" -q --block-size 20000 "$work/plain.txt" -o "$work/plain.tav"
"$tav_e" -q --long --block-size 20000 "$work/long.txt" -o "$work/long.tav"
status=0
for f in plain long; do
  xz -9 -c "$work/$f.txt" >"$work/$f.xz"
  printf '\n%s: %d bytes of text -> %d bytes (%s)\n\n' "$f" "$(stat -c %s "$work/$f.txt")" \
    "$(stat -c %s "$work/$f.tav")" "$("$tav_e" -l "$work/$f.tav" | awk 'NR == 2 { print $1 " members" }')"
  "$build/bench/damage/damage_count" --tav-d "$build/programs/tav_d" --tav-e "$tav_e" --jobs "${JOBS:-3}" \
    --foreign "an xz file=$work/$f.xz" "$work/$f.tav" "$work/$f.txt" || status=$?
done
exit "$status"
