#!/usr/bin/env bash
# Checks the man pages against the programs they describe: every program has
# a page that groff renders without a warning (what `man --warnings` runs), whose footer names this
# version, whose synopsis is the usage line the program prints, and, for
# tav_e, which has an entry for every option of `tav_e --help`.
#
#   check_man_pages.sh MAN_DIR VERSION PROGRAM_PATH...
set -uo pipefail
man_dir=$1 version=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "$1: $2" >&2; failures=$((failures + 1)); }

# Lower case, without <>, blanks squeezed: "Usage: tav_d <compressedfile>"
# and the rendered "tav_d compressedfile" then read the same.
normalise() { tr 'A-Z' 'a-z' | tr -d '<>' | tr -s ' \t' ' ' | sed 's/^ //; s/ $//'; }

# The usage line each program prints when asked wrongly (or for --help).
usage_of() {
  local exe name
  exe=$(realpath "$1")
  name=$(basename "$exe")
  case $name in
    tav_d) (cd "$scratch" && "$exe") 2>&1 ;;
    tav_e) "$exe" --help 2>&1 ;;
    *) (cd "$scratch" && "$exe" a b c) 2>&1 ;;
  esac | grep -io 'usage: .*' | head -n 1 | sed 's/^usage: //I' | normalise
}

# The rendered SYNOPSIS, joined into one line.
synopsis_of() {
  groff -t -man -Tascii -P-cbou -rLL=200n "$1" 2>/dev/null |
    sed -n '/^SYNOPSIS/,/^[A-Z]/{/^SYNOPSIS/d;/^[A-Z]/d;p}' | tr '\n' ' ' | normalise
}

for exe in "$@"; do
  name=$(basename "$exe")
  page=$man_dir/$name.1
  if [[ ! -f $page ]]; then fail "$name" "no page $page"; continue; fi
  warnings=$(groff -t -man -ww -z -Tutf8 "$page" 2>&1)
  [[ -z $warnings ]] || fail "$page" "groff warns: $warnings"
  grep -q "^\.TH .* \"tav $version\" " "$page" || fail "$page" "the .TH line does not name tav $version"
  usage=$(usage_of "$exe") synopsis=$(synopsis_of "$page")
  [[ -n $usage && $usage == "$synopsis" ]] ||
    fail "$page" "synopsis '$synopsis' is not the program's usage '$usage'"
  if [[ $name == tav_e ]]; then
    # Every option the help text names, long and short, has to appear.
    options=$("$exe" --help | grep -oE -- '(^|[ ,(])--?[A-Za-z0-9][A-Za-z0-9-]*' | sed 's/^[ ,(]//' | sort -u)
    source=$(sed 's/\\-/-/g' "$page")
    for option in $options; do
      grep -qE -- "(^|[^A-Za-z0-9-])$option([^A-Za-z0-9-]|\$)" <<<"$source" ||
        fail "$page" "no entry for $option, which tav_e --help lists"
    done
  fi
done
((failures == 0)) && echo "$# man pages checked"
exit $((failures != 0))
