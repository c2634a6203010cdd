# shellcheck shell=bash disable=SC2034,SC2154  # sets and reads variables of the sourcing script
# Helpers the benchmark scripts source (not run on its own): sizes with K/M/G
# suffixes, building tav_e, and timing one whole process.
#
# median_run reads two variables of the calling script: `work`, a scratch
# directory, and `runs`, how many times to run each command.

# size_bytes SIZE: prints SIZE in bytes (a number, with an optional K, M or G
# suffix for powers of 1024); fails quietly otherwise, the caller says why.
size_bytes() {
  [[ $1 =~ ^([0-9]+)([KkMmGg]?)$ ]] || return 1
  local n=$((10#${BASH_REMATCH[1]}))
  case ${BASH_REMATCH[2]} in
    [Kk]) echo $((n << 10)) ;;
    [Mm]) echo $((n << 20)) ;;
    [Gg]) echo $((n << 30)) ;;
    *) echo "$n" ;;
  esac
}

# find_tav_e ROOT BUILD_DIR: sets `tav_e`.  TAV_E in the environment names the
# program to run as it is (a path or a command); otherwise tav_e is built in
# BUILD_DIR, configured as a Release build if it has not been configured.
find_tav_e() {
  local root=$1 build=$2
  if [[ -n ${TAV_E:-} ]]; then
    tav_e=$(command -v "$TAV_E") || { echo "${0##*/}: TAV_E=$TAV_E: no such program" >&2; return 1; }
    return 0
  fi
  if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAV_BUILD_TESTS=OFF >/dev/null
  fi
  # A debug or sanitizer tree would give figures that mean nothing.
  grep -q '^CMAKE_BUILD_TYPE:[A-Z]*=Release$' "$build/CMakeCache.txt" ||
    echo "warning: $build is not a Release build" >&2
  cmake --build "$build" -j2 --target tav_e >/dev/null
  tav_e=$build/programs/tav_e
}

# median_run CMD...: runs CMD $runs times under /usr/bin/time -v, its output
# discarded, and sets SECS (median wall-clock seconds of the whole process)
# and PEAK_KB (largest resident set of any run).  A failing run ends the
# script with the command's messages.
median_run() {
  local times=() peak=0 s kb i
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -v -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
      echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
    s=$(awk -F': ' '/Elapsed \(wall clock\)/ {
      n = split($NF, t, ":"); v = 0; for (j = 1; j <= n; j++) v = v * 60 + t[j]; printf "%.2f", v }' "$work/time")
    kb=$(awk -F': ' '/Maximum resident set size/ {print $NF}' "$work/time")
    times+=("$s")
    if ((kb > peak)); then peak=$kb; fi
  done
  SECS=$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  PEAK_KB=$peak
}

# mbps BYTES SECS: throughput in MB/s (10^6 bytes), times under 0.01 s
# counted as 0.01 s.
mbps() { awk -v b="$1" -v s="$2" 'BEGIN { s = s < 0.01 ? 0.01 : s; printf "%.2f", b / s / 1e6 }'; }

# bpb OUT_BYTES IN_BYTES: compressed bits per input byte.
bpb() { awk -v o="$1" -v i="$2" 'BEGIN { printf "%.3f", 8 * o / i }'; }
