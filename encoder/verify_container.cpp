#include "verify_container.h"

#include <cstring>
#include <memory>
#include <new>

#include "decode_loop.h"
#include "decoder_types.h"

namespace tav {

std::string verify_container(std::FILE* in, const uint8_t* text, uint32_t length,
                             uint64_t container_bytes) {
  uint8_t hb[HEADER_BYTES] = {};
  const size_t got = std::fread(hb, 1, HEADER_BYTES, in);
  const ContainerHeader h = parse_header_bytes(hb, static_cast<uint32_t>(got));
  if (got != HEADER_BYTES || h.text_length != length) return "the header does not match";
  // One spare byte, as the decoder's text buffer has.
  std::unique_ptr<uint8_t[]> decoded(new (std::nothrow) uint8_t[size_t{length} + 1]());
  if (!decoded) return "no memory for the decoded text";
  bool init_ok = false;
  StreamResult r;
  {
    Model m;
    r = decode_stream(m, h, in, decoded.get(), init_ok);
  }
  if (!init_ok) return "the decoder cannot start the model";
  if (r.status != ByteStatus::ok)
    return std::string(describe(r.status)) + " at byte " + std::to_string(r.position);
  if (std::memcmp(decoded.get(), text, length) != 0) {
    uint32_t i = 0;
    while (decoded[i] == text[i]) ++i;
    return "the decoded text differs at byte " + std::to_string(i);
  }
  if (HEADER_BYTES + r.stream_bytes != container_bytes)
    return "the decoder reads " + std::to_string(HEADER_BYTES + r.stream_bytes) + " of " +
           std::to_string(container_bytes) + " bytes";
  return {};
}

}  // namespace tav
