// tav_e -t's check: a good container passes; every kind of damage to the
// container, or a text that differs from the one compressed, is reported.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "container_io.h"
#include "verify_container.h"

namespace tav::test {
namespace {

std::string verify_bytes(const Bytes& file, const Bytes& text) { return verify_container(file, text); }

TEST(VerifyContainer, AcceptsTheGoodAndNamesEveryFault) {
  ASSERT_TRUE(set_numeric_mode());
  Bytes text;
  for (int i = 0; i < 3000; ++i) text.push_back(static_cast<uint8_t>("abracadabra "[i % 12] + i / 700));
  const Compressed good = compress_text(text, 4, 8);
  ASSERT_EQ(good.enc.status, EncodeStatus::ok);
  EXPECT_EQ(verify_bytes(good.file, text), "");

  const struct {
    const char* what;
    std::function<void(Bytes& file, Bytes& text)> damage;
    const char* reason;  // the start of the reported reason
  } cases[] = {
      {"other text", [](Bytes&, Bytes& t) { t[2500] ^= 1; }, "the decoded text differs at byte 2500"},
      {"other length", [](Bytes& f, Bytes&) { f[0] ^= 1; }, "the header does not match"},
      {"header only", [](Bytes& f, Bytes&) { f.resize(5); }, "the header does not match"},
      {"other order", [](Bytes& f, Bytes&) { f[4] = 3; }, ""},
      {"flipped stream byte", [](Bytes& f, Bytes&) { f[f.size() / 2] ^= 0x40; }, ""},
      {"truncated stream", [](Bytes& f, Bytes&) { f.resize(f.size() - 40); }, ""},
      // The decoder reads 0xFF past the end of a file, so 0xFF bytes appended
      // decode the same and show only in the count of bytes it reads.
      {"trailing 0xFF bytes", [](Bytes& f, Bytes&) { f.resize(f.size() + 16, 0xFF); },
       "the decoder reads "},
      {"trailing 0x00", [](Bytes& f, Bytes&) { f.push_back(0); }, ""},
  };
  for (const auto& c : cases) {
    Bytes file = good.file, t = text;
    c.damage(file, t);
    const std::string problem = verify_bytes(file, t);
    EXPECT_NE(problem, "") << c.what;
    EXPECT_EQ(problem.rfind(c.reason, 0), 0u) << c.what << ": " << problem;
  }
}

}  // namespace
}  // namespace tav::test
