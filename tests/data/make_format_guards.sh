#!/usr/bin/env bash
# Made the compressed files in this directory, once, with the tav_e of commit
# e6eb183; kept as the record of what they hold.  Do NOT rerun it to "update"
# them: these files are the guard that every later build still decodes what
# earlier builds wrote.  A change that breaks them breaks users' files.
#   tests/data/make_format_guards.sh TAV_E TAV_D_BINARY OUT_DIR
# (The tav_e command line below is that of e6eb183; today's is
#  tav_e IN -o OUT --order N -m MB.)
# TAV_D_BINARY is any executable; a slice of its machine code is the binary
# sample.  Writes OUT_DIR/*.tav and prints the manifest lines
# (sha256-of-decoded-text length name) for format_guards.txt.
set -euo pipefail
tav_e=$1 elf=$2 out=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
set +o pipefail  # head closes its pipes early on purpose

# Pseudo-random bytes: MINSTD (x * 48271 mod 2^31-1), exact in awk's doubles.
#   rand_bytes SEED COUNT MODULUS
rand_bytes() {
  LC_ALL=C awk -v x="$1" -v n="$2" -v m="$3" 'BEGIN {
    for (i = 0; i < n; i++) { x = (x * 48271) % 2147483647; printf "%c", int(x / 256) % m } }'
}

lic=$root/samples/licenses.txt
: >"$work/empty"
head -c 6000 "$lic" >"$work/english_a"
tail -c +100001 "$lic" | head -c 8000 >"$work/english_b"
tail -c +40001 "$lic" | head -c 30000 >"$work/english_c"
# Text with long repeats, for a deep order.
for i in 1 2 3; do head -c 1500 "$lic"; printf 'copy %d\n' "$i"; done >"$work/english_d"
git -C "$root" show e6eb183:decoder/range_decoder.cpp e6eb183:decoder/node_store.cpp | head -c 8000 >"$work/source"
tail -c +8193 "$elf" | head -c 6000 >"$work/binary"
# All 256 byte values: ascending, descending, in a stride-7 walk, then random.
{
  LC_ALL=C awk 'BEGIN { for (i = 0; i < 256; i++) printf "%c", i
                        for (i = 255; i >= 0; i--) printf "%c", i
                        for (i = 0; i < 512; i++) printf "%c", (i * 7) % 256 }'
  rand_bytes 17 1024 256
} >"$work/bytes256"
# Skewed random bytes (values 0..15 only) for order 0.
rand_bytes 99 4000 16 >"$work/random16"
# A 1000-byte random block repeated 100 times, one byte changed in every
# third copy: order 7 meets the coder's zero-width limit on it, and tav_e
# falls back to order 6.
rand_bytes 7 1000 256 >"$work/block"
for c in $(seq 0 99); do
  if ((c % 3 == 2)); then
    pos=$(((c * 7919) % 1000))
    { head -c "$pos" "$work/block"; printf "\\$(printf %03o $(((c * 31) % 255 + 1)))"; tail -c +$((pos + 2)) "$work/block"; }
  else
    cat "$work/block"
  fi
done >"$work/repeat"

#        name                 input     order  MB
cases=(  "empty_o8"           empty     8      1024
         "english_o3"         english_a 3      16
         "english_o16"        english_b 16     64
         "english_o16_m1"     english_c 16     1
         "english_o300"       english_d 300    8
         "source_o6"          source    6      32
         "binary_o2"          binary    2      4
         "bytes256_o1"        bytes256  1      2
         "random16_o0"        random16  0      1
         "repeat_o7"          repeat    7      8 )
for ((i = 0; i < ${#cases[@]}; i += 4)); do
  name=${cases[i]} in=$work/${cases[i+1]} order=${cases[i+2]} mb=${cases[i+3]}
  "$tav_e" "$in" "$out/$name.tav" -o "$order" -m "$mb" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
  sed 's/^/# /' "$work/log" >&2
  echo "$(sha256sum <"$in" | cut -d' ' -f1) $(stat -c %s "$in") $name.tav"
done
