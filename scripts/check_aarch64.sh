#!/usr/bin/env bash
# Cross-compiles tav_e and tav_d for aarch64 (Debian's g++-aarch64-linux-gnu,
# statically linked), runs them under qemu-user, and checks that they write
# the same compressed bytes as the x86-64 build and decode its files: the
# model's arithmetic must not depend on the processor (no x86 vector code
# there, only the scalar loops).  Takes a few minutes; not part of test.sh.
#   scripts/check_aarch64.sh [FILE...]     default: the bundled sample
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh" --bench
out="$root/build-aarch64"
mkdir -p "$out"

# Host build, for the reference bytes.
cmake -S "$root" -B "$out/host" -DCMAKE_BUILD_TYPE=Release -DTAV_BUILD_TESTS=OFF >/dev/null
cmake --build "$out/host" -j2 --target tav_e tav_d >/dev/null

# Cross build: the codec only (the text tools need a library we do not cross-build).
# xxhash.h is used header-only and is the same for every processor.
mkdir -p "$out/include"
cp /usr/include/xxhash.h "$out/include/"
flags=(-std=c++20 -O2 -ffp-contract=off -frounding-math -fno-fast-math -Wall -Wextra -static
       -I"$root/model" -I"$root/codec/format" -I"$root/codec/coders" -I"$root/codec/engine"
       -I"$root/programs/files" -I"$out/include")
model=("$root"/model/*.cpp "$root"/codec/*/*.cpp)
# The programs' shared code: the file handling both programs use.
shared=("$root"/programs/files/*.cpp)
aarch64-linux-gnu-g++ "${flags[@]}" -o "$out/tav_d" "${model[@]}" "${shared[@]}" "$root"/programs/tav_d/*.cpp
aarch64-linux-gnu-g++ "${flags[@]}" -o "$out/tav_e" "${model[@]}" "${shared[@]}" "$root"/programs/tav_e/*.cpp
file "$out/tav_e" | grep -q aarch64

(($# == 0)) && set -- "$root/samples/licenses.txt"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
for input in "$@"; do
  for setting in "0 1024" "2 1024" "4 1" "6 2" "8 1024" "16 1024"; do
    read -r order mb <<<"$setting"
    "$out/host/programs/tav_e" -f -q --order "$order" -m "$mb" "$input" -o "$work/x86.tav"
    qemu-aarch64 "$out/tav_e" -f -q --order "$order" -m "$mb" "$input" -o "$work/arm.tav"
    (cd "$work" && qemu-aarch64 "$out/tav_d" x86.tav arm.unp >/dev/null)
    name="$(basename "$input") order $order, $mb MB"
    if cmp -s "$work/x86.tav" "$work/arm.tav" && cmp -s "$input" "$work/arm.unp"; then
      echo "same bytes on aarch64: $name ($(stat -c %s "$work/arm.tav") bytes)"
    else
      echo "DIFFERENT on aarch64: $name"
      fail=1
    fi
  done
done
exit $fail
