#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then rebuilds the codec
# with -O3 -march=native and with clang and checks that they compute the same
# bits: worked values, round trips, the old files of tests/data and the golden
# hashes of compressed output.  Then runs the whole suite again with
# AddressSanitizer and UBSan, and each fuzz target for FUZZ_SECONDS (default
# 10; 0 skips them).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"

cmake -S . -B build-native -DCMAKE_BUILD_TYPE=Release -DTAV_NATIVE=ON >/dev/null
guards=(model_values_test format_guard_test golden_hash_test)
cmake --build build-native -j"$jobs" --target tav_e tav_d codec_round_trip_test "${guards[@]}"

if command -v clang++ >/dev/null; then
  CC=clang CXX=clang++ cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-clang -j"$jobs" --target "${guards[@]}"
  for t in "${guards[@]}"; do build-clang/tests/codec/$t --gtest_brief=1; done
  echo "clang build: same bits"
fi

# Same bits in the native build: worked values, round trips, and the
# compressed bytes of the sample at several orders compared with the default build.
for t in "${guards[@]}"; do build-native/tests/codec/$t --gtest_brief=1; done
build-native/tests/codec/codec_round_trip_test --gtest_brief=1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for order in 0 3 6 16; do
  build/programs/tav_e -qf samples/licenses.txt -o "$tmp/a.tav" --order $order
  build-native/programs/tav_e -qf samples/licenses.txt -o "$tmp/b.tav" --order $order
  cmp "$tmp/a.tav" "$tmp/b.tav"
  echo "native build: order $order gives identical compressed bytes"
done

ctest --test-dir build --output-on-failure -j"$jobs"

# Every program and test again under AddressSanitizer and UBSan, built with
# clang, whose UBSan also checks pointer arithmetic on null pointers.
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAV_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build-asan --output-on-failure -j"$jobs"

fuzz_seconds=${FUZZ_SECONDS:-10}
if ((fuzz_seconds > 0)); then
  bash scripts/fuzz.sh "$fuzz_seconds"
fi
