// Reading input in blocks: the same blocks from a file and from a pipe fed in
// small pieces, whatever the block size; errors come back with errno.
#include "block_reader.h"

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

std::vector<Bytes> read_blocks(int fd, size_t block) {
  BlockReader reader(fd, block);
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

std::vector<Bytes> split(const Bytes& text, size_t block) {
  std::vector<Bytes> blocks;
  for (size_t at = 0; at < text.size(); at += block)
    blocks.emplace_back(text.begin() + at, text.begin() + std::min(text.size(), at + block));
  return blocks;
}

TEST(BlockReader, FileAndPipeGiveTheSameBlocks) {
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
      EXPECT_EQ(read_blocks(::fileno(f), block), split(text, block));
      std::fclose(f);

      int fds[2];
      ASSERT_EQ(::pipe(fds), 0);
      std::jthread writer([&] {  // pieces of 1000 bytes: reads come back short
        for (size_t at = 0; at < length; at += 1000)
          if (::write(fds[1], text.data() + at, std::min<size_t>(1000, length - at)) < 0) break;
        ::close(fds[1]);
      });
      EXPECT_EQ(read_blocks(fds[0], block), split(text, block));
      writer.join();
      ::close(fds[0]);
    }
}

TEST(BlockReader, ReadErrorsComeBackWithErrno) {
  const int dir = ::open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dir, 0);
  BlockReader reader(dir, 100);
  for (int i = 0; i < 2; ++i) {  // and stay errors
    const BlockRead r = reader.next();
    EXPECT_EQ(r.status, BlockStatus::error);
    EXPECT_EQ(r.error, EISDIR);
    EXPECT_TRUE(r.bytes.empty());
  }
  ::close(dir);
  EXPECT_EQ(BlockReader(-1, 100).next().error, EBADF);
}

}  // namespace
}  // namespace tav
