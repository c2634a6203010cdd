// The container's header: what the check refuses and why, and reading a
// header from bytes, whole or cut short.
#include <gtest/gtest.h>

#include <vector>

#include "container.h"
#include "fault_text.h"

namespace tav {
namespace {

TEST(Container, CheckHeaderNamesEveryFault) {
  const struct {
    uint32_t text_length, level_limit, memory_mb;
    HeaderFault fault;
    const char* reason;  // the start of the short reason
  } cases[] = {
      {0, 0, 1, HeaderFault::none, ""},
      {MAX_TEXT_LENGTH, MAX_LEVEL_LIMIT, MAX_MEMORY_MB, HeaderFault::none, ""},
      {MAX_TEXT_LENGTH + 1, 3, 1, HeaderFault::text_too_long, "invalid header: text length"},
      {0, 3, 0, HeaderFault::no_node_memory, "invalid header: memory budget of 0M"},
      {0, 3, MAX_MEMORY_MB + 1, HeaderFault::too_much_memory, "invalid header: memory budget beyond"},
      {0, MAX_LEVEL_LIMIT + 1, 1, HeaderFault::too_many_levels, "unsupported: model order 1087 "},
      {0, 65535, 1, HeaderFault::too_many_levels, "unsupported: model order 65534 "},
  };
  for (const auto& c : cases) {
    const ContainerHeader h{c.text_length, c.level_limit, c.memory_mb};
    EXPECT_EQ(check_header(h), c.fault) << c.reason;
    EXPECT_EQ(header_fault_reason(c.fault, h).rfind(c.reason, 0), 0u) << c.reason;
    EXPECT_EQ(header_fault_message(c.fault, h).empty(), c.fault == HeaderFault::none) << c.reason;
  }
}

// A field byte the file does not reach keeps the byte of its initial value
// (0, 257, 512); the stream is whatever follows the eight header bytes.
TEST(Container, ShortFilesKeepInitialFieldBytes) {
  const std::vector<uint8_t> file = {0x10, 0x20, 0x30, 0x40, 0x07, 0x00, 0x05, 0x00, 0xAA, 0xBB};
  const struct {
    size_t size;
    ContainerHeader want;
  } cases[] = {
      {0, {0, 257, 512}},
      {3, {0x302010, 257, 512}},
      {5, {0x40302010, 0x107, 512}},
      {7, {0x40302010, 7, 0x205}},
      {8, {0x40302010, 7, 5}},
      {10, {0x40302010, 7, 5}},
  };
  for (const auto& c : cases) {
    const ContainerView v = split_container({file.data(), c.size});
    EXPECT_EQ(v.header.text_length, c.want.text_length) << c.size;
    EXPECT_EQ(v.header.level_limit, c.want.level_limit) << c.size;
    EXPECT_EQ(v.header.memory_mb, c.want.memory_mb) << c.size;
    EXPECT_EQ(v.header_complete, c.size >= HEADER_BYTES) << c.size;
    EXPECT_EQ(v.stream.size(), c.size > HEADER_BYTES ? c.size - HEADER_BYTES : 0) << c.size;
  }
}

TEST(Container, WrittenHeaderReadsBack) {
  const ContainerHeader h{123456789, MAX_LEVEL_LIMIT, MAX_MEMORY_MB};
  VectorSink out;
  ASSERT_TRUE(write_header(h, out));
  ASSERT_EQ(out.bytes.size(), HEADER_BYTES);
  const ContainerView v = split_container(out.bytes);
  EXPECT_EQ(v.header.text_length, h.text_length);
  EXPECT_EQ(v.header.level_limit, h.level_limit);
  EXPECT_EQ(v.header.memory_mb, h.memory_mb);
  EXPECT_TRUE(v.stream.empty());
}

}  // namespace
}  // namespace tav
