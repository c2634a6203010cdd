#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that the programs and
# their pages are there and that the installed tav_e and tav_d round-trip
# the sample; then has CPack make the Debian package and checks its name,
# version, dependencies and contents.
#
#   check_install.sh BUILD_DIR VERSION SAMPLE PROGRAM...
set -euo pipefail
build=$1 version=$2 sample=$3
shift 3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "$*" >&2; exit 1; }

prefix=$tmp/prefix
"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >/dev/null
for program in "$@"; do
  [[ -x $prefix/bin/$program ]] || fail "not installed: bin/$program"
  gzip -t "$prefix/share/man/man1/$program.1.gz" 2>/dev/null || fail "not installed: share/man/man1/$program.1.gz"
done

# The installed programs, run from elsewhere, give the sample back.
(cd "$tmp" && "$prefix/bin/tav_e" -q "$sample" -o sample.tav && "$prefix/bin/tav_d" sample.tav >/dev/null)
cmp "$sample" "$tmp/sample.unp" || fail "installed tav_e/tav_d did not round-trip $sample"

"${CPACK:-cpack}" -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/package" >/dev/null
debs=("$tmp"/package/*.deb)
((${#debs[@]} == 1)) && [[ -f ${debs[0]} ]] || fail "cpack made no single .deb: ${debs[*]}"
deb=${debs[0]}
[[ $(dpkg-deb -f "$deb" Package) == tav ]] || fail "package name is not tav"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libdivsufsort3; do
  [[ $depends == *"$library "* || $depends == *"$library," || $depends == *"$library" ]] ||
    fail "package does not depend on $library: $depends"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')  # the name, without a link's target
for program in "$@"; do
  grep -qx "./usr/bin/$program" <<<"$contents" || fail "package lacks /usr/bin/$program"
  grep -qx "./usr/share/man/man1/$program.1.gz" <<<"$contents" || fail "package lacks the page of $program"
done
# libtav (tests/install/check_library.sh checks it installed and in use).
for f in libtav.so.$version libtav.so.1 libtav.so libtav.a pkgconfig/tav.pc cmake/tav/tav-config.cmake \
         cmake/tav/tav-config-version.cmake; do
  grep -qE "^\./usr/lib/([a-z0-9_-]+/)?$f\$" <<<"$contents" || fail "package lacks libtav's $f"
done
grep -qx "./usr/include/tav.h" <<<"$contents" || fail "package lacks /usr/include/tav.h"
dpkg-deb -x "$deb" "$tmp/unpacked"
archive_symbols=$(nm "$(find "$tmp/unpacked" -name libtav.a)" 2>/dev/null || true)
grep -q ' T tav_compress$' <<<"$archive_symbols" || fail "the packaged libtav.a lost its symbols"
echo "installed and packaged: $# programs and their pages, and libtav, in $(basename "$deb")"
