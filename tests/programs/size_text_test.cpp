// Sizes on the command line: suffixes, limits, and the messages for the rest.
#include "size_text.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <string>

namespace tav {
namespace {

constexpr uint64_t KiB = 1024, MiB = KiB << 10, GiB = MiB << 10;

TEST(SizeText, ParsesNumbersWithBinarySuffixes) {
  const struct {
    const char* text;
    uint64_t bytes;
  } cases[] = {{"1", 1},           {"4096", 4096},      {"64k", 64 * KiB}, {"64K", 64 * KiB},
               {"64KiB", 64 * KiB}, {"64kib", 64 * KiB}, {"3M", 3 * MiB},   {"3mIB", 3 * MiB},
               {"2G", 2 * GiB},     {"2GiB", 2 * GiB},   {"007M", 7 * MiB}, {"17179869183G", 17179869183 * GiB}};
  for (const auto& c : cases) {
    const SizeParse p = parse_size(c.text, "--block-size", 1, UINT64_MAX);
    EXPECT_TRUE(p.ok) << c.text << ": " << p.error;
    EXPECT_EQ(p.bytes, c.bytes) << c.text;
  }
}

TEST(SizeText, RefusesWithAMessageNamingTheOption) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "invalid size '' for --block-size (a whole number, optionally followed by K, M or G)"},
      {"M", "invalid size 'M' for --block-size"},
      {"-1M", "invalid size '-1M'"},
      {"+1", "invalid size '+1'"},
      {" 1", "invalid size ' 1'"},
      {"1 M", "invalid size '1 M'"},
      {"1.5M", "invalid size '1.5M'"},
      {"1T", "invalid size '1T'"},
      {"1MB", "invalid size '1MB'"},
      {"1Mi", "invalid size '1Mi'"},
      {"0", "size '0' for --block-size out of range (allowed: 1 KiB to 2 GiB)"},
      {"1023", "size '1023' for --block-size out of range"},
      {"2049M", "size '2049M' for --block-size out of range"},
      {"17179869184G", "size '17179869184G' for --block-size out of range"},  // 2^64
      {"99999999999999999999", "size '99999999999999999999' for --block-size out of range"},
  };
  for (const auto& c : cases) {
    const SizeParse p = parse_size(c.text, "--block-size", KiB, 2 * GiB);
    EXPECT_FALSE(p.ok) << c.text;
    EXPECT_EQ(p.error.rfind(c.message, 0), 0u) << p.error;
  }
  EXPECT_TRUE(parse_size("2G", "--block-size", KiB, 2 * GiB).ok);
  EXPECT_TRUE(parse_size("1K", "--block-size", KiB, 2 * GiB).ok);
}

TEST(SizeText, FormatsInTheLargestUnitRoundingDown) {
  const struct {
    uint64_t bytes;
    const char* text;
  } cases[] = {{0, "0 B"},         {1023, "1023 B"},          {KiB, "1 KiB"},
               {1536, "1.5 KiB"},  {6 * GiB, "6 GiB"},        {GiB * 21 / 10, "2.0 GiB"},
               {GiB * 21 / 10 + 1, "2.1 GiB"}, {2 * GiB - 1, "1.9 GiB"}, {UINT64_MAX, "15.9 EiB"}};
  for (const auto& c : cases) EXPECT_EQ(format_size(c.bytes), c.text) << c.bytes;
}

// Decimals rounded to nearest under tav_e's rounding mode, toward zero.
TEST(SizeText, DecimalsRoundToNearestWhateverTheRoundingMode) {
  std::fesetround(FE_TOWARDZERO);
  const double ratio = 6058.0 / 189832.0;  // 0.03191...
  EXPECT_EQ(decimal_text(ratio, 3), "0.032");
  EXPECT_EQ(decimal_text(2.2685, 2), "2.27");
  EXPECT_EQ(decimal_text(99.96, 1), "100.0");
  EXPECT_EQ(decimal_text(7.4, 0), "7");
  std::fesetround(FE_TONEAREST);
}

}  // namespace
}  // namespace tav
