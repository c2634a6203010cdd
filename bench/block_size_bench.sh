#!/usr/bin/env bash
# What the block size costs: bits per byte of tav_e --block-size S, and the
# peak memory of the run, for every file of a corpus and every S in a list.
# Each block is compressed apart, so smaller blocks lose context and gain
# threads; "one" stands for one member (a block as large as the file).
# With THREADS=1 (the default) the peak is the memory of one thread.
# Prints a Markdown table.
#
# usage: [SIZES="16M 64M 256M one"] [THREADS=1] [TAV_OPTS="-9"] [RUNS=1] [TAV_E=prog]
#        bench/block_size_bench.sh [CORPUS_DIR] [BUILD_DIR]
#   CORPUS_DIR  its files as they are; default: the corpus of make_corpus.sh
#               (English, C++ headers, machine code, a few MB each) in
#               build-bench/corpus
#   SIZES       block sizes (K, M, G suffixes); the corpus files are small,
#               so SIZES="256K 1M 4M one" shows the trend on them
#   BUILD_DIR   where tav_e is built (Release) if needed; default build-bench
#   TAV_E       run this tav_e as it is instead of building one
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
runs=${RUNS:-1}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "block_size_bench: RUNS=$runs: not a count" >&2; exit 1; }
threads=${THREADS:-1}
read -r -a sizes <<<"${SIZES:-16M 64M 256M one}"
read -r -a tav_opts <<<"${TAV_OPTS:-}"
for s in "${sizes[@]}"; do
  [[ $s == one ]] || size_bytes "$s" >/dev/null ||
    { echo "block_size_bench: SIZES: $s: not a size (bytes, or with K, M or G)" >&2; exit 1; }
done
bash "$root/scripts/deps.sh" --bench  # /usr/bin/time, and the fortunes of the corpus

corpus=${1:-}
if [[ -z $corpus ]]; then
  corpus=$root/build-bench/corpus
  bash "$root/bench/make_corpus.sh" "$corpus" >/dev/null
fi
[[ -d $corpus ]] || { echo "block_size_bench: $corpus: not a directory" >&2; exit 1; }
files=()
for f in "$corpus"/*; do
  if [[ -f $f && -s $f ]]; then files+=("$f"); fi
done
((${#files[@]})) || { echo "block_size_bench: $corpus: no files to compress" >&2; exit 1; }
find_tav_e "$root" "${2:-$root/build-bench}"

work=$(mktemp -d "${TMPDIR:-/tmp}/block_size_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "tav_e ${tav_opts[*]:-(default preset)}, -T $threads; median of $runs run(s)"
echo
echo "| file | bytes | block size | compressed bytes | bits/byte | compress MB/s | peak MB |"
echo "|---|---|---|---|---|---|---|"
for f in "${files[@]}"; do
  in=$(stat -L -c %s "$f")
  one=$(((in + (1 << 20) - 1) >> 20))M  # the smallest whole number of MiB that holds the file
  for s in "${sizes[@]}"; do
    block=$s
    [[ $s == one ]] && block=$one
    # Sizes from the file's length up give the same file, but are still run:
    # what a block size reserves up front shows only in the peak memory.
    echo "$(basename "$f") --block-size $block ..." >&2
    median_run "$tav_e" -T "$threads" -f "${tav_opts[@]}" --block-size "$block" "$f" -o "$work/c"
    out=$(stat -c %s "$work/c")
    label=$s
    if [[ $s == one ]]; then
      label="one member"
    elif (($(size_bytes "$block") >= in)); then
      label="$s (one member)"
    fi
    echo "| $(basename "$f") | $in | $label | $out | $(bpb "$out" "$in") | $(mbps "$in" "$SECS") | $((PEAK_KB / 1024)) |"
  done
done
