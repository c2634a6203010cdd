#!/usr/bin/env bash
# Speed and peak memory of the text tools on a generated ~100 MB text.
#
# usage: [STREAM_RUNS=N] bench/tools_bench.sh [BUILD_DIR] [SIZE_BYTES]
#   BUILD_DIR   a configured and built tree (default: build-tools beside bench/)
#   SIZE_BYTES  length of the generated text (default 104857600)
#
# The text is built by make_text.sh from the system's license texts, fortunes
# and documentation, repeated to length, and removed afterwards.  Targets:
# each sort under 60 s with at most 9 bytes of peak memory per input byte;
# the other programs at 100 MB/s or more (1 MB = 10^6 bytes).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build-tools}" && pwd)  # the programs run from a temporary directory
size=${2:-104857600}
bin=$build/tools
for p in line_number_msb line_number_lsb context_sort_line context_sort_file context_unsort control_filter; do
  [[ -x $bin/$p ]] || { echo "tools_bench: $bin/$p: not built" >&2; exit 1; }
done
[[ -x /usr/bin/time ]] || { echo "tools_bench: /usr/bin/time: not installed (package 'time')" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tools_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

bash "$here/make_text.sh" "$work/raw" "$size"

printf '%-18s %12s %9s %10s %12s  %s\n' program input_bytes seconds MB/s peak_B/B target
# The machine is shared, so single timings scatter widely: the fast programs
# run STREAM_RUNS times (default 3) and the median wall time is reported.
stream_runs=${STREAM_RUNS:-3}
# run NAME INPUT_FILE TARGET_KIND COMMAND...
run() {
  local name=$1 input=$2 kind=$3
  shift 3
  local log=$work/time.log runs=1 walls=() kb=0 k
  [[ $kind == stream ]] && runs=$stream_runs
  for ((r = 0; r < runs; r++)); do
    (cd "$work" && /usr/bin/time -v "$@" 2> "$log") || { echo "tools_bench: $name failed:" >&2; cat "$log" >&2; exit 1; }
    walls+=("$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s}' "$log")")
    k=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$log")
    if ((k > kb)); then kb=$k; fi
  done
  local bytes wall
  bytes=$(stat -c %s "$input")
  wall=$(printf '%s\n' "${walls[@]}" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}')
  awk -v name="$name" -v bytes="$bytes" -v wall="$wall" -v kb="$kb" -v kind="$kind" 'BEGIN {
    s = wall + 0;
    if (s <= 0) s = 0.005;
    mbs = bytes / s / 1e6; per = kb * 1024 / bytes;
    if (kind == "sort") { target = "< 60 s, <= 9 B/B"; ok = (s < 60 && per <= 9) }
    else                { target = ">= 100 MB/s";      ok = (mbs >= 100) }
    printf "%-18s %12d %9.2f %10.1f %12.2f  %s %s\n", name, bytes, s, mbs, per, target, ok ? "met" : "MISSED"
  }'
}

run line_number_msb "$work/raw" stream "$bin/line_number_msb" raw numbered_msb
run line_number_lsb "$work/raw" stream "$bin/line_number_lsb" raw english_lf
run control_filter "$work/english_lf" stream "$bin/control_filter" english_lf filtered
run context_sort_line "$work/english_lf" sort "$bin/context_sort_line"
run context_unsort "$work/english.out" stream "$bin/context_unsort"
if cmp -s "$work/english_lf" "$work/english.unp"; then
  echo "round trip (line-bounded sort, inverse): identical"
else
  echo "round trip (line-bounded sort, inverse): DIFFERS" >&2
  exit 1
fi
run context_sort_file "$work/english_lf" sort "$bin/context_sort_file"
