/* Compresses a buffer with libtav and decompresses it again, checking that
 * the text comes back.  Exit status 0 on success.
 *
 * Build against an installed library, either with pkg-config:
 *     cc round_trip.c $(pkg-config --cflags --libs tav) -o round_trip
 * or with CMake (find_package(tav), see CMakeLists.txt beside this file):
 *     cmake -S . -B build && cmake --build build && build/round_trip
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tav.h>

static int fail(const char* what, tav_error e) {
  fprintf(stderr, "round_trip: %s: %s\n", what, tav_error_message(e));
  return 1;
}

int main(void) {
  /* A text with some repetition, as texts have. */
  char text[4096];
  size_t text_size = 0;
  for (int line = 0; text_size + 64 < sizeof text; ++line)
    text_size += (size_t)snprintf(text + text_size, sizeof text - text_size,
                                  "line %d: the quick brown fox jumps over the lazy dog\n", line % 17);

  /* Ask for the size needed first: a first call with no room says it. */
  size_t compressed_size = 0;
  tav_error e = tav_compress(text, text_size, NULL, 0, &compressed_size, 3);
  if (e != TAV_ERROR_DST_TOO_SMALL) return fail("sizing", e);
  unsigned char* compressed = malloc(compressed_size);
  if (compressed == NULL) return 1;
  e = tav_compress(text, text_size, compressed, compressed_size, &compressed_size, 3);
  if (e != TAV_OK) return fail("compress", e);

  uint64_t announced = 0;
  e = tav_decompressed_size(compressed, compressed_size, &announced);
  if (e != TAV_OK) return fail("size", e);
  char* back = malloc((size_t)announced + 1);
  size_t back_size = 0;
  if (back == NULL) return 1;
  e = tav_decompress(compressed, compressed_size, back, (size_t)announced, &back_size);
  if (e != TAV_OK) return fail("decompress", e);

  if (back_size != text_size || memcmp(back, text, text_size) != 0) {
    fprintf(stderr, "round_trip: the text did not come back\n");
    return 1;
  }
  printf("libtav %s: %zu bytes -> %zu -> %zu, same text\n", tav_version(), text_size, compressed_size, back_size);
  free(compressed);
  free(back);
  return 0;
}
