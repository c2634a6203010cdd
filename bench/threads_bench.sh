#!/usr/bin/env bash
# How tav_e scales from one thread to two on a large text, beside zpaq
# method 4 with one and two threads and 7-Zip's PPMd order 8 (one thread: the
# PPMd coder has no second one).  Every figure is the whole process: wall
# clock and peak resident set from /usr/bin/time -v, median of RUNS runs.
# Prints a Markdown table (size, bits per byte, compress and decompress MB/s,
# peak memory) and each tool's 2-thread speed-up.  Every round trip is
# compared with the text, and tav_e's files for 1 and 2 threads with each
# other: any difference ends the script with status 1.
#
# usage: [RUNS=N] [TAV_OPTS="-9"] [BLOCK_SIZE=64M] [TEXT_SIZE=100M] [TAV_E=prog]
#        bench/threads_bench.sh [TEXT] [BUILD_DIR]
#   TEXT        the input; "" or none: a TEXT_SIZE text from make_text.sh
#               (default 100M = 104857600 bytes), removed afterwards
#   BUILD_DIR   where tav_e is built (Release) if needed; default build-bench
#   TAV_OPTS    tav_e options for both thread counts (default: its default preset)
#   BLOCK_SIZE  tav_e --block-size for both thread counts (default: its default)
#   TAV_E       run this tav_e as it is instead of building one
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
bash "$root/scripts/deps.sh" --bench
runs=${RUNS:-1}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "threads_bench: RUNS=$runs: not a count" >&2; exit 1; }
read -r -a tav_opts <<<"${TAV_OPTS:-}"
if [[ -n ${BLOCK_SIZE:-} ]]; then tav_opts+=(--block-size "$BLOCK_SIZE"); fi
text=${1:-}
find_tav_e "$root" "${2:-$root/build-bench}"

work=$(mktemp -d "${TMPDIR:-/tmp}/threads_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Every tool reads the same name: zpaq stores the path it is given.
if [[ -n $text ]]; then
  [[ -f $text && -r $text ]] || { echo "threads_bench: $text: not a readable file" >&2; exit 1; }
  [[ -s $text ]] || { echo "threads_bench: $text: empty" >&2; exit 1; }
  cp "$text" "$work/in"
else
  text="generated text"
  bash "$root/bench/make_text.sh" "$work/in" "${TEXT_SIZE:-100M}" >&2
fi
in_bytes=$(stat -c %s "$work/in")

# same_as_text FILE WHAT: ends the script unless FILE holds the text.
same_as_text() {
  cmp -s "$work/in" "$1" || { echo "threads_bench: $2 round trip DIFFERS from $text" >&2; exit 1; }
}

rows=()            # the table's lines, printed once everything has run
declare -A csecs dsecs

# add_row TOOL THREADS ARCHIVE CSECS CPEAK_KB: a table line, with the
# decompression figures in SECS and PEAK_KB.
add_row() {
  local bytes
  bytes=$(stat -c %s "$3")
  csecs[$1/$2]=$4 dsecs[$1/$2]=$SECS
  rows+=("$(printf '| %s | %s | %d | %s | %s | %s | %d | %d |' "$1" "$2" "$bytes" "$(bpb "$bytes" "$in_bytes")" \
    "$(mbps "$in_bytes" "$4")" "$(mbps "$in_bytes" "$SECS")" $(($5 / 1024)) $((PEAK_KB / 1024)))")
}

tav_name="tav_e ${tav_opts[*]:-(default)}"
for t in 1 2; do
  echo "tav_e -T $t ..." >&2
  median_run "$tav_e" -T "$t" -f "${tav_opts[@]}" "$work/in" -o "$work/tav$t"
  cs=$SECS cp=$PEAK_KB
  median_run "$tav_e" -d -T "$t" -f "$work/tav$t" -o "$work/out"
  same_as_text "$work/out" "tav_e -T $t"
  add_row "$tav_name" "$t" "$work/tav$t" "$cs" "$cp"
done
cmp -s "$work/tav1" "$work/tav2" ||
  { echo "threads_bench: tav_e wrote different files for 1 and 2 threads" >&2; exit 1; }

for t in 1 2; do
  echo "zpaq -m4 -t$t ..." >&2
  median_run bash -c "rm -f '$work/z.zpaq'; zpaq a '$work/z.zpaq' '$work/in' -m4 -t$t"
  cs=$SECS cp=$PEAK_KB
  # A fresh directory every run: zpaq skips files it finds unchanged.
  median_run bash -c "rm -rf '$work/zx'; zpaq x '$work/z.zpaq' -to '$work/zx' -t$t"
  same_as_text "$work/zx$work/in" "zpaq -t$t"
  add_row "zpaq -m4" "$t" "$work/z.zpaq" "$cs" "$cp"
done

echo "7z PPMd ..." >&2
median_run bash -c "rm -f '$work/c.7z'; 7z a -m0=PPMd:o=8:mem=256m -mmt=1 '$work/c.7z' '$work/in'"
cs=$SECS cp=$PEAK_KB
median_run bash -c "7z e -so '$work/c.7z' >'$work/out'"
same_as_text "$work/out" "7z PPMd"
add_row "7-Zip PPMd o8 256m" 1 "$work/c.7z" "$cs" "$cp"

printf '%s: %d bytes; median of %d run(s); %s cores\n\n' "$text" "$in_bytes" "$runs" "$(nproc)"
echo "| tool | threads | bytes | bits/byte | compress MB/s | decompress MB/s | compress peak MB | decompress peak MB |"
echo "|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
echo "| tool | 2-thread speed-up, compress | 2-thread speed-up, decompress |"
echo "|---|---|---|"
for tool in "$tav_name" "zpaq -m4"; do
  awk -v n="$tool" -v c1="${csecs[$tool/1]}" -v c2="${csecs[$tool/2]}" -v d1="${dsecs[$tool/1]}" \
    -v d2="${dsecs[$tool/2]}" 'function r(a, b) { a = a < 0.01 ? 0.01 : a; b = b < 0.01 ? 0.01 : b; return a / b }
    BEGIN { printf "| %s | %.2fx | %.2fx |\n", n, r(c1, c2), r(d1, d2) }'
done
echo
echo "(goal for tav_e: 1.8x or more both ways)"
