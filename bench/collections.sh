#!/usr/bin/env bash
# Long repeats in real collections: tav_e with and without --long beside the
# peer compressors, on two collections built from this machine,
#   text     the 100 MiB documentation text of make_text.sh;
#   headers  a tar of /usr/include (names sorted), as one file.
# Every job runs once (these runs take long: the model codes 1-2 MB/s per
# thread), whole process under /usr/bin/time -f "%e %M": wall seconds and
# peak resident set.  Each round trip is compared with the input; any
# difference ends the script with status 1.  The 1-minute load average is
# noted before each compression, since other work on the machine shows in
# the times.  Rows are appended to OUT/COLLECTION.md as jobs finish (so a
# long run can be followed), and the tables printed at the end.
#
# usage: [COLLECTIONS="text headers"] [JOBS="..."] [TEXT_SIZE=100M] [HEADERS_SIZE=...]
#        bench/collections.sh [OUT] [BUILD_DIR]
#   OUT        where the collections, the scratch files and the tables go
#              (default: a new folder under TMPDIR, kept)
#   BUILD_DIR  where tav_e is built (Release) if needed; default build-bench
#   JOBS       a subset of the job names below, in the order to run them
#   TAV_E      run this tav_e as it is instead of building one
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"  # size_bytes, find_tav_e, mbps, bpb
bash "$root/scripts/deps.sh" --bench
read -r -a collections <<<"${COLLECTIONS:-text headers}"
all_jobs="tav-long-T1 tav-long-T2 tav-long-128M-T1 tav-long-128M-T2 tav-8-long-T1 tav-8-long-T2
  tav-8-long-64M-T1 tav-8-long-64M-T2 tav-T2
  zpaq-m4 zpaq-m5 xz-T1 xz-T2 zstd-T1 zstd-T2 ppmd bzip2"
read -r -a jobs <<<"${JOBS:-$all_jobs}"
out=${1:-$(mktemp -d "${TMPDIR:-/tmp}/collections.XXXXXX")}
mkdir -p "$out"
out=$(cd "$out" && pwd)
find_tav_e "$root" "${2:-$root/build-bench}"
echo "collections: tables and scratch files in $out" >&2

# timed WHAT CMD...: runs CMD (a shell command line) in the scratch folder;
# sets SECS and PEAK_MB.  A failing command ends the script.
timed() {
  local what=$1
  shift
  (cd "$work" && /usr/bin/time -f '%e %M' -o "$work/time" bash -c "$*") >/dev/null 2>"$work/err" || {
    echo "collections: $what failed: $*" >&2; cat "$work/err" >&2; exit 1; }
  read -r SECS kb <"$work/time"
  PEAK_MB=$((kb / 1024))
}

load() { awk '{ print $1 }' /proc/loadavg; }

# job NAME: sets TOOL, THREADS, COMPRESS, DECOMPRESS, ARCHIVE (the scratch
# folder holds the input as `in`; DECOMPRESS writes `out`, or zx/in for zpaq).
job() {
  local tav=$tav_e
  case $1 in
    tav-long-T1) TOOL="tav_e --long" THREADS=1 C="-T 1 --long" ;;
    tav-long-T2) TOOL="tav_e --long" THREADS=2 C="-T 2 --long" ;;
    tav-long-128M-T1) TOOL="tav_e --long --block-size 128M" THREADS=1 C="-T 1 --long --block-size 128M" ;;
    tav-long-128M-T2) TOOL="tav_e --long --block-size 128M" THREADS=2 C="-T 2 --long --block-size 128M" ;;
    tav-8-long-T1) TOOL="tav_e -8 --long" THREADS=1 C="-T 1 -8 --long" ;;
    tav-8-long-T2) TOOL="tav_e -8 --long" THREADS=2 C="-T 2 -8 --long" ;;
    tav-8-long-64M-T1) TOOL="tav_e -8 --long --block-size 64M" THREADS=1 C="-T 1 -8 --long --block-size 64M" ;;
    tav-8-long-64M-T2) TOOL="tav_e -8 --long --block-size 64M" THREADS=2 C="-T 2 -8 --long --block-size 64M" ;;
    tav-T2) TOOL="tav_e (no --long)" THREADS=2 C="-T 2" ;;
    zpaq-m4 | zpaq-m5)
      # zpaq's default is one thread per core: "-tN -threads N  Use N threads
      # (default: 0 = 2 cores)" on this machine.
      TOOL="zpaq -m${1#zpaq-m}" THREADS="2 (default)" ARCHIVE=c.zpaq
      COMPRESS="rm -f c.zpaq; zpaq a c.zpaq in -m${1#zpaq-m}"
      # A fresh folder every run: zpaq skips files it finds unchanged.
      DECOMPRESS="rm -rf zx; zpaq x c.zpaq -to zx"
      return ;;
    xz-T1 | xz-T2)
      TOOL="xz -9e" THREADS=${1#xz-T} ARCHIVE=c.xz
      COMPRESS="xz -9e -T${1#xz-T} -c in >c.xz"
      DECOMPRESS="xz -d -T${1#xz-T} -c c.xz >out"
      return ;;
    zstd-T1 | zstd-T2)
      TOOL="zstd -19 --long=27" THREADS=${1#zstd-T} ARCHIVE=c.zst
      COMPRESS="zstd -q -19 --long=27 -T${1#zstd-T} -c in >c.zst"
      DECOMPRESS="zstd -q -d --long=27 -T${1#zstd-T} -c c.zst >out"
      return ;;
    ppmd)
      TOOL="7-Zip PPMd o8, 1 GB" THREADS=1 ARCHIVE=c.7z
      COMPRESS="rm -f c.7z; 7z a -m0=PPMd:o=8:mem=1g -mmt=1 c.7z in"
      DECOMPRESS="7z e -so c.7z >out"
      return ;;
    bzip2)
      TOOL="bzip2 -9" THREADS=1 ARCHIVE=c.bz2
      COMPRESS="bzip2 -9 -c in >c.bz2"
      DECOMPRESS="bzip2 -d -c c.bz2 >out"
      return ;;
    *) echo "collections: $1: no such job (jobs: $all_jobs)" >&2; exit 1 ;;
  esac
  ARCHIVE=c.tav
  COMPRESS="'$tav' -qf $C in -o c.tav"
  DECOMPRESS="'$tav' -qfd -T $THREADS c.tav -o out"
}

for coll in "${collections[@]}"; do
  file=$out/$coll.input
  case $coll in
    text)
      [[ -s $file ]] || bash "$root/bench/make_text.sh" "$file" "${TEXT_SIZE:-100M}" >&2
      title="the ${TEXT_SIZE:-100M} documentation text of make_text.sh" ;;
    headers)
      # HEADERS_SIZE keeps the tar's first bytes (all of it is 266 MB here).
      [[ -s $file ]] || { tar --sort=name -cf - -C / usr/include || [[ -n ${HEADERS_SIZE:-} ]]; } | head -c "${HEADERS_SIZE:-100T}" >"$file"
      title="a tar of /usr/include, names sorted${HEADERS_SIZE:+, its first $HEADERS_SIZE}" ;;
    *) echo "collections: $coll: no such collection (text, headers)" >&2; exit 1 ;;
  esac
  in_bytes=$(stat -c %s "$file")
  work=$out/$coll.work
  rm -rf "$work"
  mkdir -p "$work"
  ln "$file" "$work/in" 2>/dev/null || cp "$file" "$work/in"
  table=$out/$coll.md
  {
    printf '%s: %d bytes, %s; %s cores; one run each\n\n' "$coll" "$in_bytes" "$title" "$(nproc)"
    echo "| tool | threads | bytes | bits/byte | compress MB/s | decompress MB/s | compress peak MB | decompress peak MB | load before |"
    echo "|---|---|---|---|---|---|---|---|---|"
  } >"$table"
  for j in "${jobs[@]}"; do
    job "$j"
    echo "$(date +%T) $coll: $j (load $(load)) ..." >&2
    l=$(load)
    timed "$j compress" "$COMPRESS"
    cs=$SECS cp=$PEAK_MB
    bytes=$(stat -c %s "$work/$ARCHIVE")
    timed "$j decompress" "$DECOMPRESS"
    got=$work/out
    [[ $j == zpaq-* ]] && got=$work/zx/in
    cmp -s "$work/in" "$got" || { echo "collections: $j round trip DIFFERS on $coll" >&2; exit 1; }
    printf '| %s | %s | %d | %s | %s | %s | %d | %d | %s |\n' "$TOOL" "$THREADS" "$bytes" \
      "$(bpb "$bytes" "$in_bytes")" "$(mbps "$in_bytes" "$cs")" "$(mbps "$in_bytes" "$SECS")" \
      "$cp" "$PEAK_MB" "$l" >>"$table"
    echo "$(date +%T) $coll: $j: $bytes bytes, ${cs} s / ${SECS} s" >&2
    rm -rf "$work/$ARCHIVE" "$work/out" "$work/zx"
  done
  rm -rf "$work"
done
for coll in "${collections[@]}"; do
  echo
  cat "$out/$coll.md"
done
