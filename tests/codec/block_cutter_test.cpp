// Cutting input into blocks: the same blocks from a file, from a pipe fed in
// small pieces, from a buffer and from a stream of calls of any size, whatever
// the block size; errors come back with errno.
#include "block_cutter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>
#include <vector>

namespace tav {
namespace {

using Bytes = std::vector<uint8_t>;

template <class Source>
std::vector<Bytes> read_blocks(Source reader, size_t block) {
  std::vector<Bytes> blocks;
  for (;;) {
    BlockRead r = reader.next();
    EXPECT_NE(r.status, BlockStatus::error) << r.error;
    if (r.status != BlockStatus::block) break;
    EXPECT_LE(r.bytes.capacity(), block);  // holds no more than one block
    blocks.push_back(std::move(r.bytes));
  }
  EXPECT_EQ(reader.next().status, BlockStatus::end);  // the end stays the end
  return blocks;
}

// The rule: full blocks, then the rest; an empty input is one empty block.
std::vector<Bytes> split(const Bytes& text, size_t block) {
  std::vector<Bytes> blocks;
  for (size_t at = 0; at < text.size(); at += block)
    blocks.emplace_back(text.begin() + at, text.begin() + std::min(text.size(), at + block));
  if (blocks.empty()) blocks.emplace_back();
  return blocks;
}

// The library's stream: pieces of every size from 1 to 2999 bytes pushed in.
std::vector<Bytes> pushed_blocks(const Bytes& text, size_t block) {
  BlockCutter cutter(block);
  std::vector<Bytes> blocks;
  for (size_t at = 0, piece = 1; at < text.size(); piece = piece % 2999 + 1) {
    const size_t n = std::min(piece, text.size() - at);
    size_t taken = 0;
    while (taken < n) {
      taken += cutter.take({text.data() + at + taken, n - taken});
      if (cutter.full()) blocks.push_back(cutter.take_block());
    }
    at += n;
  }
  if (auto last = cutter.finish()) blocks.push_back(std::move(*last));
  EXPECT_FALSE(cutter.finish());
  return blocks;
}

TEST(BlockCutter, EveryFeedGivesTheSameBlocks) {
  for (const size_t length : {size_t{0}, size_t{1}, size_t{4096}, size_t{200001}})
    for (const size_t block : {size_t{1}, size_t{4096}, size_t{65537}, size_t{1} << 20}) {
      if (block == 1 && length > 4096) continue;
      SCOPED_TRACE(testing::Message() << "length " << length << " block " << block);
      Bytes text(length);
      for (size_t i = 0; i < length; ++i) text[i] = static_cast<uint8_t>(i * 131 + i / 997);

      std::FILE* const f = std::tmpfile();
      ASSERT_NE(f, nullptr);
      ASSERT_EQ(length == 0 ? 0 : std::fwrite(text.data(), 1, length, f), length);  // no null to fwrite
      ASSERT_EQ(std::fflush(f), 0);
      ASSERT_EQ(::lseek(::fileno(f), 0, SEEK_SET), 0);
      EXPECT_EQ(read_blocks(FdBlockSource(::fileno(f), block), block), split(text, block));
      std::fclose(f);

      int fds[2];
      ASSERT_EQ(::pipe(fds), 0);
      std::jthread writer([&] {  // pieces of 1000 bytes: reads come back short
        for (size_t at = 0; at < length; at += 1000)
          if (::write(fds[1], text.data() + at, std::min<size_t>(1000, length - at)) < 0) break;
        ::close(fds[1]);
      });
      EXPECT_EQ(read_blocks(FdBlockSource(fds[0], block), block), split(text, block));
      writer.join();
      ::close(fds[0]);

      EXPECT_EQ(read_blocks(SpanBlockSource(text, block), block), split(text, block));
      EXPECT_EQ(pushed_blocks(text, block), split(text, block));
    }
}

TEST(BlockCutter, ReadErrorsComeBackWithErrno) {
  const int dir = ::open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dir, 0);
  FdBlockSource reader(dir, 100);
  for (int i = 0; i < 2; ++i) {  // and stay errors
    const BlockRead r = reader.next();
    EXPECT_EQ(r.status, BlockStatus::error);
    EXPECT_EQ(r.error, EISDIR);
    EXPECT_TRUE(r.bytes.empty());
  }
  ::close(dir);
  EXPECT_EQ(FdBlockSource(-1, 100).next().error, EBADF);
}

}  // namespace
}  // namespace tav
