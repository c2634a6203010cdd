#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan) and runs
# each for SECONDS (default 60) from a copy of its seed corpus.  Prints the
# executions and any finding per target; exits non-zero if a target failed.
# Crash inputs are left in FINDINGS_DIR (default build-fuzz/findings).
#   scripts/fuzz.sh [SECONDS] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --fuzz
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(decoder_fuzz round_trip_fuzz sort_fuzz unsort_fuzz member_index_fuzz member_decode_fuzz)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DTAV_FUZZ=ON -DTAV_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}" >/dev/null
findings=${FINDINGS_DIR:-build-fuzz/findings}
mkdir -p "$findings"
failed=0
for t in "${targets[@]}"; do
  work=$(mktemp -d)
  [[ -d "tests/fuzz/corpus/$t" ]] && cp -r "tests/fuzz/corpus/$t/." "$work/"
  log="$findings/$t.log"
  if build-fuzz/tests/fuzz/"$t" "$work" -max_total_time="$seconds" -max_len=8192 -rss_limit_mb=4096 \
      -artifact_prefix="$findings/$t-" >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed=1
  fi
  runs=$(grep -oE 'Done [0-9]+ runs' "$log" | grep -oE '[0-9]+' || echo "?")
  echo "$t: $status, $runs executions in ${seconds}s, corpus $(ls "$work" | wc -l) inputs"
  [[ $status == ok ]] || grep -E 'ERROR|SUMMARY|fuzz check failed' "$log" | head -5
  rm -rf "$work"
done
exit $failed
