#!/usr/bin/env bash
# Assembles benchmark inputs from Debian packages into DIR (default bench/corpus):
#   english.txt  English prose: the fortune files and the common licence texts
#   source.txt   C and C++ source: the system's standard headers
#   binary.bin   machine code: a few system libraries and programs
# Nothing here is committed; the files are rebuilt on demand.
set -euo pipefail
dir=${1:-"$(dirname "$0")/corpus"}
mkdir -p "$dir"
if [[ ! -s "$dir/english.txt" ]]; then
  fortunes=$(ls -d /usr/share/games/fortunes/* 2>/dev/null | grep -v -E '\.(dat|u8)$|/off$' || true)
  cat $fortunes /usr/share/common-licenses/{GPL-3,GPL-2,LGPL-2.1,Apache-2.0,MPL-2.0,Artistic,LGPL-3,MPL-1.1} \
    >"$dir/english.txt"
fi
if [[ ! -s "$dir/source.txt" ]]; then
  find /usr/include/c++ -type f | sort | head -n 400 | xargs cat 2>/dev/null | head -c 4000000 >"$dir/source.txt" || true
fi
if [[ ! -s "$dir/binary.bin" ]]; then
  cat /usr/bin/cmake /usr/bin/gdb 2>/dev/null | head -c 3000000 >"$dir/binary.bin" || true
fi
ls -l "$dir"
