#!/usr/bin/env bash
# One thread against two, in alternating pairs: single runs on a shared or
# virtual machine drift by a third between minutes, so each two-thread run is
# timed right after a one-thread run of the same job and the pair gives one
# ratio.  Compression and decompression alike; also the CPU seconds (user +
# system) of each run, which show whether two threads do more work in all or
# only wait longer.  Prints one line per pair and the medians.
#
# usage: [PAIRS=5] [BLOCK_SIZE=8M] [TAV_OPTS=] [TEXT_SIZE=32M] [TAV_E=prog]
#        [JOBS="compress decompress"] bench/thread_pairs.sh [TEXT] [BUILD_DIR]
#   TEXT       the input; none: a TEXT_SIZE text from make_text.sh
#   BUILD_DIR  where tav_e is built (Release) if needed; default build-bench
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
pairs=${PAIRS:-5}
[[ $pairs =~ ^[1-9][0-9]*$ ]] || { echo "thread_pairs: PAIRS=$pairs: not a count" >&2; exit 1; }
read -r -a tav_opts <<<"${TAV_OPTS:-}"
read -r -a jobs <<<"${JOBS:-compress decompress}"
tav_opts+=(--block-size "${BLOCK_SIZE:-8M}")
find_tav_e "$root" "${2:-$root/build-bench}"

work=$(mktemp -d "${TMPDIR:-/tmp}/thread_pairs.XXXXXX")
trap 'rm -rf "$work"' EXIT
if [[ -n ${1:-} ]]; then
  [[ -f $1 && -s $1 ]] || { echo "thread_pairs: $1: not a readable, non-empty file" >&2; exit 1; }
  in=$1
else
  in=$work/in
  bash "$root/bench/make_text.sh" "$in" "${TEXT_SIZE:-32M}" >&2
fi

# timed CMD...: runs CMD once; sets WALL and CPU (user + system seconds).
timed() {
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
    echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
  read -r WALL u s <"$work/time"
  CPU=$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')
}

"$tav_e" -qf "${tav_opts[@]}" "$in" -o "$work/c.tav"
printf '%s: %d bytes, %s members; %s cores\n' "$in" "$(stat -c %s "$in")" \
  "$("$tav_e" -lv "$work/c.tav" | awk 'NR == 2 { print $1 }')" "$(nproc)"
echo "pair  job         T1 wall  T2 wall  ratio  T1 cpu  T2 cpu"
: >"$work/ratios"
for ((p = 1; p <= pairs; p++)); do
  for job in "${jobs[@]}"; do
    for t in 1 2; do
      if [[ $job == compress ]]; then
        timed "$tav_e" -qf -T "$t" "${tav_opts[@]}" "$in" -o "$work/t$t.tav"
      else
        timed "$tav_e" -qfd -T "$t" "$work/c.tav" -o "$work/out"
        cmp -s "$in" "$work/out" || { echo "thread_pairs: round trip DIFFERS" >&2; exit 1; }
      fi
      eval "w$t=\$WALL c$t=\$CPU"
    done
    if [[ $job == compress ]]; then
      cmp -s "$work/t1.tav" "$work/t2.tav" || { echo "thread_pairs: -T 1 and -T 2 files differ" >&2; exit 1; }
    fi
    r=$(awk -v a="$w1" -v b="$w2" 'BEGIN { printf "%.2f", a / b }')
    printf '%4d  %-10s %8s %8s %6s %7s %7s\n' "$p" "$job" "$w1" "$w2" "$r" "$c1" "$c2"
    echo "$job $r $w1 $w2 $c1 $c2" >>"$work/ratios"
  done
done
for job in "${jobs[@]}"; do
  awk -v j="$job" '$1 == j { n++; r[n] = $2; a[n] = $3; b[n] = $4; c[n] = $5; d[n] = $6 }
    function med(x, m, i, k, t) { for (i = 1; i <= n; i++) for (k = i + 1; k <= n; k++)
      if (x[k] < x[i]) { t = x[i]; x[i] = x[k]; x[k] = t }
      return n % 2 ? x[(n + 1) / 2] : (x[n / 2] + x[n / 2 + 1]) / 2 }
    END { printf "median %-10s T1 %.2f s, T2 %.2f s, speed-up %.2fx (median of pair ratios); cpu %.2f / %.2f s\n",
          j, med(a), med(b), med(r), med(c), med(d) }' "$work/ratios"
done
