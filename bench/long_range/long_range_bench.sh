#!/usr/bin/env bash
# Runs the long-range stage's variants over a file and codes what each
# leaves with tav_e: one line per variant and block size with the literals,
# the section bytes, the model's bytes and the model's time and peak.
#
# usage: bench/long_range/long_range_bench.sh BUILD FILE "BLOCKSIZES" < VARIANTS
#   BUILD       a build directory made with -DTAV_BUILD_BENCH=ON (holds
#               bench/long_range/long_range_probe and programs/tav_e)
#   BLOCKSIZES  tav_e block sizes, e.g. "16M 32M 64M"
#   VARIANTS    lines "NAME PROBE-OPTIONS..."; NAME base codes FILE itself
# e.g. echo "anch-m128 --min 128 --hash 32 --anchor-log 5" |
#        bash bench/long_range/long_range_bench.sh build /tmp/bench/text100.txt "16M 64M"
#
# Total of a variant = model bytes + section bytes (+ the section's place in
# a member, which the format does not have yet).  Stage figures (speed,
# memory) come from the probe itself: run it with --runs 3.
set -euo pipefail
build=${1:?usage: long_range_bench.sh BUILD FILE BLOCKSIZES < VARIANTS}
file=${2:?}
sizes=${3:?}
probe=$build/bench/long_range/long_range_probe
tav_e=$build/programs/tav_e
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
while read -r name args; do
  [[ -z $name ]] && continue
  if [[ $name == base ]]; then
    lit=$file
    stage="literals $(stat -c %s "$file") section 0"
  else
    lit=$work/literals
    # shellcheck disable=SC2086
    stage=$("$probe" "$file" $args --runs 1 --literals "$lit" | grep -o 'literals [0-9]*\|section [0-9]*' | tr '\n' ' ')
  fi
  for bs in $sizes; do
    /usr/bin/time -f "%e s %M KB" "$tav_e" -qf -T 2 --block-size "$bs" "$lit" -o "$work/out.tav" 2>"$work/time"
    echo "$(basename "$file") $name block $bs $stage model $(stat -c %s "$work/out.tav") time $(tail -1 "$work/time")"
  done
done
