#!/usr/bin/env bash
# Whole-process speed and memory of tav_e and tav_d against the compressors
# users know, on the corpus of make_corpus.sh.  Prints, per file and tool:
# compressed size, bits per byte, compress and decompress MB/s, peak memory.
#   bench/codec_bench.sh [corpus-dir] [tav_e options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh" --bench
corpus=${1:-"$root/bench/corpus"}
shift || true
tav_opts=("$@")
[[ ${#tav_opts[@]} -eq 0 ]] && tav_opts=()
bash "$root/bench/make_corpus.sh" "$corpus" >/dev/null
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-bench" -j"$(nproc)" --target tav_e tav_d >/dev/null
tav_e="$root/build-bench/programs/tav_e"
tav_d="$root/build-bench/programs/tav_d"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command under /usr/bin/time; sets SECS and PEAK_KB.
measure() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1
  read -r SECS PEAK_KB <"$work/time"
}

row() {  # name input_bytes output_bytes csecs cpeak dsecs dpeak
  awk -v n="$1" -v i="$2" -v o="$3" -v cs="$4" -v cp="$5" -v ds="$6" -v dp="$7" 'BEGIN {
    cs = cs < 0.01 ? 0.01 : cs; ds = ds < 0.01 ? 0.01 : ds
    printf "  %-22s %10d  %6.3f bpb  %7.2f MB/s %6d MB  %7.2f MB/s %6d MB\n",
      n, o, 8 * o / i, i / cs / 1e6, cp / 1024, i / ds / 1e6, dp / 1024 }'
}

for file in "$corpus"/*; do
  in=$(stat -c %s "$file")
  echo "$(basename "$file") ($in bytes)      size        bits     compress   peak    decompress  peak"
  cp "$file" "$work/in"
  # tav
  measure "$tav_e" -f "$work/in" -o "$work/in.tav" "${tav_opts[@]}"
  c=($SECS $PEAK_KB)
  measure "$tav_d" "$work/in.tav" "$work/out.unp"
  cmp -s "$work/in" "$work/out.unp" || { echo "tav round trip FAILED on $file"; exit 1; }
  row "tav ${tav_opts[*]:-(default)}" "$in" "$(stat -c %s "$work/in.tav")" "${c[0]}" "${c[1]}" "$SECS" "$PEAK_KB"
  # others
  for tool in "xz -9e" "zstd -19" "bzip2 -9" "ppmd o8" "zpaq m4"; do
    case $tool in
      "xz -9e") enc=(xz -9e -k -c "$work/in"); dec=(xz -d -c "$work/c");;
      "zstd -19") enc=(zstd -19 -q -c "$work/in"); dec=(zstd -d -q -c "$work/c");;
      "bzip2 -9") enc=(bzip2 -9 -k -c "$work/in"); dec=(bzip2 -d -c "$work/c");;
      "ppmd o8") rm -f "$work/c.7z"
        enc=(7z a -m0=PPMd:o=8:mem=256m -mmt=1 "$work/c.7z" "$work/in"); dec=(7z e -so "$work/c.7z");;
      "zpaq m4") rm -f "$work/c.zpaq"
        enc=(zpaq a "$work/c.zpaq" "$work/in" -method 4 -threads 1); dec=(zpaq x "$work/c.zpaq" -to "$work/zx" -force -threads 1);;
    esac
    command -v "${enc[0]}" >/dev/null || continue
    /usr/bin/time -f '%e %M' -o "$work/time" "${enc[@]}" >"$work/c.out" 2>/dev/null
    read -r cs cp <"$work/time"
    [[ -s "$work/c.out" ]] && mv "$work/c.out" "$work/c"
    size=$(stat -c %s "$work/c" 2>/dev/null || stat -c %s "$work/c.7z" 2>/dev/null || stat -c %s "$work/c.zpaq")
    [[ $tool == "ppmd o8" ]] && size=$(stat -c %s "$work/c.7z")
    [[ $tool == "zpaq m4" ]] && size=$(stat -c %s "$work/c.zpaq")
    measure "${dec[@]}"
    row "$tool" "$in" "$size" "$cs" "$cp" "$SECS" "$PEAK_KB"
    rm -rf "$work/c" "$work/zx"
  done
done
