#!/usr/bin/env bash
# Installs the build into a scratch prefix under the build directory and
# checks libtav there: the files, that libtav.so exports only tav_*, and the
# example of examples/ built against the installed library with pkg-config
# (shared, and the archive alone), and with CMake's find_package(tav); every
# build runs and round-trips its buffer.
#
#   check_library.sh BUILD_DIR SOURCE_DIR VERSION LIBDIR CC [CFLAGS]
# CFLAGS are added to every compile and link (the sanitizer build's flags).
set -euo pipefail
build=$1 source=$2 version=$3 libdir=$4 cc=$5 cflags=${6:-}
scratch=$build/library_install_check
rm -rf "$scratch"
mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "$*" >&2; exit 1; }

prefix=$scratch/prefix
"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >/dev/null
lib=$prefix/$libdir
for f in "$lib/libtav.so.$version" "$lib/libtav.a" "$prefix/include/tav.h" "$lib/pkgconfig/tav.pc" \
         "$lib/cmake/tav/tav-config.cmake" "$lib/cmake/tav/tav-config-version.cmake"; do
  [[ -f $f ]] || fail "not installed: ${f#"$prefix"/}"
done
[[ $(readlink "$lib/libtav.so") == libtav.so.1 && $(readlink "$lib/libtav.so.1") == libtav.so.$version ]] ||
  fail "libtav.so links are not libtav.so -> libtav.so.1 -> libtav.so.$version"
[[ $(objdump -p "$lib/libtav.so.$version" | awk '/SONAME/ {print $2}') == libtav.so.1 ]] || fail "SONAME is not libtav.so.1"

# Only the C interface is exported.
exported=$(nm -D --defined-only "$lib/libtav.so" | awk '$2 ~ /^[TDBRVW]$/ {print $3}')
[[ -n $exported ]] || fail "libtav.so exports nothing"
others=$(grep -v '^tav_' <<<"$exported" || true)
[[ -z $others ]] || fail "libtav.so exports more than tav_*: $(head -5 <<<"$others")"
for name in tav_compress tav_decompress tav_compress_stream tav_decompress_stream tav_list tav_costs; do
  grep -qx "${name}@@TAV_1" <<<"$exported" || grep -qx "$name" <<<"$exported" || fail "libtav.so lacks $name"
done

export PKG_CONFIG_PATH=$lib/pkgconfig
[[ $(pkg-config --modversion tav) == "$version" ]] || fail "pkg-config gives another version"
example=$source/examples/round_trip.c
# shellcheck disable=SC2046,SC2086  # pkg-config's flags are words
$cc $cflags $(pkg-config --cflags tav) "$example" $(pkg-config --libs tav) -Wl,-rpath,"$lib" -o "$scratch/shared"
"$scratch/shared" >/dev/null || fail "the example linked with pkg-config (shared) failed"
# shellcheck disable=SC2046,SC2086
$cc $cflags $(pkg-config --cflags tav) "$example" -Wl,-Bstatic -ltav -Wl,-Bdynamic \
  $(pkg-config --libs-only-L --libs-only-other --static tav) $(pkg-config --libs-only-l --static tav | sed 's/-ltav //') \
  -o "$scratch/static"
needed=$(objdump -p "$scratch/static" | awk '/NEEDED/ {print $2}')
! grep -q libtav <<<"$needed" || fail "the static example needs libtav.so"
"$scratch/static" >/dev/null || fail "the example linked with libtav.a failed"

"${CMAKE:-cmake}" -S "$source/examples" -B "$scratch/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$cflags" >/dev/null
"${CMAKE:-cmake}" --build "$scratch/cmake-build" >/dev/null
"$scratch/cmake-build/round_trip" >/dev/null || fail "the example built with find_package(tav) failed"
echo "libtav installed; the example built with pkg-config (shared, static) and CMake round-trips"
