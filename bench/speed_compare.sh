#!/usr/bin/env bash
# Side-by-side speed of tav against PPMd (order 8, 256 MB, one thread, through
# 7-Zip) and zpaq (method 4, one thread) on the same files in one run.
# Every figure is the median of RUNS whole-process runs (wall clock, so other
# load on the machine shows; repeat on a quiet machine).  Prints, per file and
# tool: compressed size, bits per byte, compress and decompress MB/s with
# peak memory, and tav's speed as a ratio of PPMd's.
#   bench/speed_compare.sh [FILE...]          default: the corpus of make_corpus.sh
#   RUNS=5 TAV_OPTS="--order 16 -m 1024" bench/speed_compare.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh" --bench
runs=${RUNS:-3}
read -r -a tav_opts <<<"${TAV_OPTS:---order 16 -m 1024}"
if (($# == 0)); then
  bash "$root/bench/make_corpus.sh" "$root/build-bench/corpus" >/dev/null
  set -- "$root"/build-bench/corpus/*
fi
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DTAV_BUILD_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" -j2 --target tav_e tav_d >/dev/null
tav_e="$root/build-bench/programs/tav_e"
tav_d="$root/build-bench/programs/tav_d"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$root/bench/bench_lib.sh"  # median_run, mbps

for file in "$@"; do
  in=$(stat -c %s "$file")
  cp "$file" "$work/in"
  printf '\n%s (%d bytes), median of %d runs\n' "$(basename "$file")" "$in" "$runs"
  printf '  %-26s %10s %7s %11s %8s %11s %8s\n' tool bytes bpb "comp MB/s" peak "dec MB/s" peak
  declare -A enc_speed=() dec_speed=()
  for tool in tav ppmd zpaq; do
    rm -rf "$work/c" "$work/c.7z" "$work/c.zpaq" "$work/out" "$work/zx"
    case $tool in
      tav)
        name="tav_e ${tav_opts[*]}"
        median_run "$tav_e" -f -q "${tav_opts[@]}" "$work/in" -o "$work/c"
        size=$(stat -c %s "$work/c")
        cs=$SECS cp=$PEAK_KB
        median_run "$tav_d" "$work/c" "$work/out"
        cmp -s "$work/in" "$work/out" || { echo "tav round trip FAILED on $file"; exit 1; }
        ;;
      ppmd)
        name="7z PPMd o8 256m"
        median_run bash -c "rm -f '$work/c.7z'; 7z a -m0=PPMd:o=8:mem=256m -mmt=1 '$work/c.7z' '$work/in'"
        size=$(stat -c %s "$work/c.7z")
        cs=$SECS cp=$PEAK_KB
        median_run bash -c "7z e -so '$work/c.7z' >'$work/out'"
        cmp -s "$work/in" "$work/out" || { echo "7z round trip FAILED on $file"; exit 1; }
        ;;
      zpaq)
        name="zpaq -method 4"
        median_run bash -c "rm -f '$work/c.zpaq'; zpaq a '$work/c.zpaq' '$work/in' -method 4 -threads 1"
        size=$(stat -c %s "$work/c.zpaq")
        cs=$SECS cp=$PEAK_KB
        # A fresh directory every run: zpaq skips files it finds unchanged.
        median_run bash -c "rm -rf '$work/zx'; zpaq x '$work/c.zpaq' -to '$work/zx' -threads 1"
        cmp -s "$work/in" "$work/zx$work/in" || { echo "zpaq round trip FAILED on $file"; exit 1; }
        ;;
    esac
    enc_speed[$tool]=$(mbps "$in" "$cs")
    dec_speed[$tool]=$(mbps "$in" "$SECS")
    printf '  %-26s %10d %7.3f %11s %6d MB %11s %6d MB\n' "$name" "$size" \
      "$(awk -v o="$size" -v i="$in" 'BEGIN { print 8 * o / i }')" \
      "${enc_speed[$tool]}" $((cp / 1024)) "${dec_speed[$tool]}" $((PEAK_KB / 1024))
  done
  awk -v te="${enc_speed[tav]}" -v td="${dec_speed[tav]}" -v pe="${enc_speed[ppmd]}" \
    -v pd="${dec_speed[ppmd]}" 'BEGIN {
    printf "  tav / PPMd speed: compress %.2f x, decompress %.2f x\n", te / pe, td / pd }'
  unset enc_speed dec_speed
done
