/* libtav: the tav context-mixing codec as a C library.
 *
 * Compressed data is what tav_e writes and tav_d / tav_e -d read: one or more
 * members, each a header, a range-coded stream and a trailer holding the
 * XXH64 of its text; plain files of earlier builds (no trailer, no check)
 * are read too.  A text larger than the block size becomes several members,
 * compressed side by side on up to `threads` threads; the bytes written
 * never depend on the number of threads.
 *
 * Conventions:
 *   - every function that can fail returns a tav_error; TAV_OK is 0, and
 *     tav_error_message() gives a one-line text for any code;
 *   - nothing prints, exits or keeps global state: a context belongs to one
 *     thread at a time, and different contexts may be used side by side;
 *   - the model's arithmetic needs its own floating-point rounding mode; each
 *     call sets it on the threads that code and restores the caller's mode
 *     before it returns;
 *   - sizes are bytes; a member holds at most 2^31 - 1 bytes of text.
 */
#ifndef TAV_H
#define TAV_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define TAV_API
#elif defined(__GNUC__)
#define TAV_API __attribute__((visibility("default")))
#else
#define TAV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- version -------------------------------------------------------------- */

#define TAV_VERSION_MAJOR 1
#define TAV_VERSION_MINOR 0
#define TAV_VERSION_PATCH 0
#define TAV_VERSION_NUMBER (TAV_VERSION_MAJOR * 10000 + TAV_VERSION_MINOR * 100 + TAV_VERSION_PATCH)

/* The version of the library in use (may differ from the header's):
 * "1.0.0", and 10000 for it. */
TAV_API const char* tav_version(void);
TAV_API unsigned tav_version_number(void);

/* ---- errors ------------------------------------------------------------------ */

typedef enum tav_error {
  TAV_OK = 0,
  TAV_ERROR_PARAMETER = 1,     /* an argument or parameter value out of range, a null pointer */
  TAV_ERROR_MEMORY = 2,        /* the system refused memory (the model's nodes or a buffer) */
  TAV_ERROR_DAMAGED = 3,       /* compressed data damaged: checksum, trailer, stream, cut short */
  TAV_ERROR_UNSUPPORTED = 4,   /* a header or trailer this library cannot decode */
  TAV_ERROR_CANNOT_CODE = 5,   /* no order can code the text within the node budget */
  TAV_ERROR_DST_TOO_SMALL = 6, /* the output buffer cannot hold the result */
  TAV_ERROR_STAGE = 7,         /* a call out of order, e.g. more input after the end */
  TAV_ERROR_TOO_LARGE = 8,     /* a size this library or machine cannot address */
  TAV_ERROR_INTERRUPTED = 9    /* the context's interrupt check asked the call to stop */
} tav_error;

/* One line, no newline, never NULL; an unknown code gets a text too. */
TAV_API const char* tav_error_message(tav_error code);

/* ---- parameters ------------------------------------------------------------ */

#define TAV_MIN_LEVEL 1
#define TAV_MAX_LEVEL 9
#define TAV_DEFAULT_LEVEL 6
#define TAV_MAX_ORDER 1086
#define TAV_MAX_MEMORY_MB 32767

typedef enum tav_param {
  TAV_PARAM_LEVEL = 1,        /* preset 1..9 (default 6): sets order and memory_mb */
  TAV_PARAM_ORDER = 2,        /* 0..1086; replaces the preset's */
  TAV_PARAM_MEMORY_MB = 3,    /* node budget in MB, 1..32767; replaces the preset's */
  TAV_PARAM_THREADS = 4,      /* workers: 0 one per core, default 1 */
  TAV_PARAM_BLOCK_SIZE = 5,   /* text bytes per member, 1 .. 2^31 - 1 (default 32 MiB) */
  TAV_PARAM_MEMORY_LIMIT = 6, /* bytes all threads may use; threads are reduced to fit;
                                 0 (default): a quarter of the machine's memory */
  TAV_PARAM_PLAIN = 7,        /* decompression only: 1 also reads plain streams (no trailer,
                                 so nothing checks their text: files of the first builds);
                                 0 (default) refuses them as TAV_ERROR_DAMAGED */
  TAV_PARAM_LONG_WINDOW = 8   /* the long-range stage: long repeats anywhere within this many
                                 bytes before become references, and the model codes the rest;
                                 1 .. 2^32 - 1 (TAV_DEFAULT_LONG_WINDOW is 1 GiB), 0 (default)
                                 off.  A decoder keeps up to the window of text. */
} tav_param;

#define TAV_DEFAULT_LONG_WINDOW (1ull << 30)

/* ---- one-shot ---------------------------------------------------------------- */

/* Compresses src[0..src_size) at preset `level` (0: the default) with one
 * thread into dst.  On TAV_ERROR_DST_TOO_SMALL, *dst_size is the capacity
 * needed and nothing useful is in dst. */
TAV_API tav_error tav_compress(const void* src, size_t src_size, void* dst, size_t dst_capacity,
                               size_t* dst_size, int level);

/* The most bytes tav_compress or tav_compress_cctx can write for a text of
 * src_size bytes at any level, order, memory budget and thread count, with
 * blocks of the default 32 MiB or larger: 6 bytes per text byte plus 72 per
 * member (a proven worst case of the range coder; real output is far
 * smaller).  With a smaller block size B, a text makes ceil(src_size / B)
 * members of at most tav_compress_bound(B) bytes each.  0 when the bound
 * does not fit in a size_t. */
TAV_API size_t tav_compress_bound(size_t src_size);

/* The text size the headers and trailers of a whole compressed file give,
 * without decoding (TAV_ERROR_DAMAGED when they do not add up). */
TAV_API tav_error tav_decompressed_size(const void* src, size_t src_size, uint64_t* text_size);

/* Decompresses a whole compressed file and checks every member.  On
 * TAV_ERROR_DST_TOO_SMALL, *dst_size is the capacity needed.  A file that
 * ends in no trailer (empty, cut short, another format, or a plain stream of
 * the first builds) is TAV_ERROR_DAMAGED; tav_decompress_dctx with
 * TAV_PARAM_PLAIN reads plain streams. */
TAV_API tav_error tav_decompress(const void* src, size_t src_size, void* dst, size_t dst_capacity,
                                 size_t* dst_size);

/* ---- compression context and stream ------------------------------------------ */

typedef struct tav_cctx tav_cctx;

TAV_API tav_cctx* tav_cctx_create(void); /* NULL when out of memory */
TAV_API void tav_cctx_free(tav_cctx* cctx); /* NULL is allowed */

/* Sets a parameter for the next compression; between streams only
 * (TAV_ERROR_STAGE while a stream is open). */
TAV_API tav_error tav_cctx_set(tav_cctx* cctx, tav_param param, int64_t value);
TAV_API tav_error tav_cctx_get(const tav_cctx* cctx, tav_param param, int64_t* value);

/* Compresses with the context's parameters, threads included. */
TAV_API tav_error tav_compress_cctx(tav_cctx* cctx, const void* src, size_t src_size, void* dst,
                                    size_t dst_capacity, size_t* dst_size);

typedef struct tav_in_buffer {
  const void* src;
  size_t size;
  size_t pos; /* advanced by the library */
} tav_in_buffer;

typedef struct tav_out_buffer {
  void* dst;
  size_t size;
  size_t pos; /* advanced by the library */
} tav_out_buffer;

typedef enum tav_end_directive {
  TAV_CONTINUE = 0, /* take input; members are written as blocks fill */
  TAV_FLUSH = 1,    /* end the current block as a member and write out all that is done */
  TAV_END = 2       /* the input is complete: finish the last member */
} tav_end_directive;

/* Takes input from `in` and writes compressed bytes to `out`, as much as
 * both allow; the first call opens a stream with the context's parameters.
 * *remaining (may be NULL) is set to the bytes still to be written for
 * TAV_FLUSH or TAV_END: call again with room in `out` until it is 0.  After
 * TAV_END has returned 0 the stream is closed and the context can start
 * another.  An input that ends without any byte is one empty member.  After
 * an error the stream is closed: further calls give TAV_ERROR_STAGE until
 * tav_cctx_reset opens the next one anew.
 * Blocks are coded `threads` at a time by the call that fills the last of
 * them; no input is taken while their members wait for room in `out`, so
 * the context holds at most that many blocks and their members. */
TAV_API tav_error tav_compress_stream(tav_cctx* cctx, tav_out_buffer* out, tav_in_buffer* in,
                                      tav_end_directive end, size_t* remaining);

/* Abandons an open stream; the parameters stay. */
TAV_API void tav_cctx_reset(tav_cctx* cctx);

/* An interrupt check for the context's calls (NULL: none).  While a call
 * codes, `stop(opaque)` is called now and then (about every 64 KiB of text
 * on each coding thread, maybe on several threads at once); a nonzero
 * return ends the call with TAV_ERROR_INTERRUPTED as soon as every thread
 * has stopped, and closes an open stream.  For a caller that must stay
 * responsive: a user's interrupt, a deadline. */
typedef int (*tav_stop_fn)(void* opaque);
TAV_API tav_error tav_cctx_set_stop(tav_cctx* cctx, tav_stop_fn stop, void* opaque);

/* ---- decompression context and stream -------------------------------------- */

typedef struct tav_dctx tav_dctx;

TAV_API tav_dctx* tav_dctx_create(void);
TAV_API void tav_dctx_free(tav_dctx* dctx);

/* TAV_PARAM_THREADS, TAV_PARAM_MEMORY_LIMIT and TAV_PARAM_PLAIN apply;
 * others are refused. */
TAV_API tav_error tav_dctx_set(tav_dctx* dctx, tav_param param, int64_t value);

/* tav_decompress with the context's parameters (threads, memory limit,
 * plain streams); TAV_ERROR_STAGE while a stream is open. */
TAV_API tav_error tav_decompress_dctx(tav_dctx* dctx, const void* src, size_t src_size, void* dst,
                                      size_t dst_capacity, size_t* dst_size);

/* Takes compressed bytes from `in` and writes text to `out`.  Pass
 * TAV_END once `in` holds the last of the input (TAV_CONTINUE before).
 * Text is written only after the member it belongs to has been checked.
 * *remaining (may be NULL): text bytes decoded and not yet written, or 1
 * while input is still expected; the stream is done when a TAV_END call
 * returns TAV_OK with *remaining 0.
 * The members are found from the end of the file, so the context holds the
 * whole compressed input until TAV_END (as tav_e -d reads the whole file),
 * then decodes and checks every member and keeps the text until `out` has
 * taken it.  A damaged file gives its error and no text.  After an error,
 * calls give TAV_ERROR_STAGE until tav_dctx_reset. */
TAV_API tav_error tav_decompress_stream(tav_dctx* dctx, tav_out_buffer* out, tav_in_buffer* in,
                                        tav_end_directive end, size_t* remaining);

TAV_API void tav_dctx_reset(tav_dctx* dctx);

/* As tav_cctx_set_stop, for the context's decompressions. */
TAV_API tav_error tav_dctx_set_stop(tav_dctx* dctx, tav_stop_fn stop, void* opaque);

/* ---- listing ------------------------------------------------------------------ */

typedef struct tav_member_info {
  uint64_t offset;           /* of the member's header in the file */
  uint64_t compressed_bytes; /* header + stream + trailer */
  uint64_t text_bytes;
  uint32_t order;            /* the order it was coded with */
  uint32_t memory_mb;        /* its node budget */
  int checked;               /* 1: a trailer with the text's XXH64; 0: a plain file */
  uint64_t text_hash;        /* XXH64 of the text, when checked */
} tav_member_info;

/* Reads the members of a whole compressed file from its headers and
 * trailers, decoding nothing.  Fills up to `capacity` entries of `members`
 * (may be NULL with capacity 0) and sets *count to how many there are: call
 * with capacity 0 first to learn it.  Plain files are one unchecked member. */
TAV_API tav_error tav_list(const void* src, size_t src_size, tav_member_info* members, size_t capacity,
                           size_t* count);

/* ---- per-byte costs ----------------------------------------------------------- */

/* The exact code length, in bits, of every byte of text[0..size) under the
 * model at `order` (0..1086) with a `memory_mb` budget: bits[i] =
 * log2(10000000 / f), f the byte's integer frequency out of 10,000,000 when
 * the model codes it.  The sum is the coded stream's size within the coder's
 * few bytes.  `bits` has room for `size` values. */
TAV_API tav_error tav_costs(const void* text, size_t size, int order, int memory_mb, double* bits);

#ifdef __cplusplus
}
#endif

#endif /* TAV_H */
