#!/usr/bin/env bash
# Writes a large plain text for the benchmarks: the system's licence texts,
# fortunes and documentation (gzip-compressed docs unpacked, binary fortune
# indexes skipped), repeated to length if they are shorter, cut to SIZE bytes
# and ended with a LF (so a line-bounded round trip must give it back).
#
# usage: bench/make_text.sh OUT [SIZE]
#   SIZE  bytes, or with a K, M or G suffix (powers of 1024); default 100M
#
# The same machine and packages always give the same bytes.  Prints one line
# saying how much system text there was; exits non-zero if there was none.
set -euo pipefail

out=${1:?usage: make_text.sh OUT [SIZE]}
wanted=${2:-100M}
source "$(dirname "$0")/bench_lib.sh"
size=$(size_bytes "$wanted") || { echo "make_text: $wanted: not a size (bytes, or with K, M or G)" >&2; exit 1; }
((size > 0)) || { echo "make_text: $wanted: the text must have at least one byte" >&2; exit 1; }
[[ -d $(dirname "$out") ]] || { echo "make_text: $out: its directory does not exist" >&2; exit 1; }

# The pass of system text is built beside OUT, so it lands on the same disk.
corpus=$(mktemp "$out.corpus.XXXXXX")
trap 'rm -f "$corpus" "$corpus.2"' EXIT
{
  cat /usr/share/common-licenses/* 2>/dev/null || true
  find /usr/share/games/fortunes -type f ! -name '*.dat' -exec cat {} + 2>/dev/null || true
  find /usr/share/doc -type f \( -name '*.txt' -o -name 'copyright' -o -name 'README*' -o -name 'NEWS*' -o -name 'changelog*' \) \
    ! -name '*.gz' -exec cat {} + 2>/dev/null || true
  find /usr/share/doc -type f -name '*.gz' -exec zcat -f {} + 2>/dev/null || true
} >"$corpus"
corpus_bytes=$(stat -c %s "$corpus")
[[ $corpus_bytes -gt 0 ]] || { echo "make_text: no text found to build $out from" >&2; exit 1; }
while [[ $(stat -c %s "$corpus") -lt $size ]]; do
  cat "$corpus" "$corpus" >"$corpus.2" && mv "$corpus.2" "$corpus"
done
{ head -c "$((size - 1))" "$corpus"; printf '\n'; } >"$out"
echo "corpus: $corpus_bytes bytes of system text, cut or repeated to $size bytes"
