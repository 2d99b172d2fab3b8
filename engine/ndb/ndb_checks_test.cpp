#include "engine/ndb/ndb_checks.h"

#include <gtest/gtest.h>

#include <random>

#include "engine/ndb/test_ndb_support.h"

namespace vexl::ndbcheck {
namespace {

using testing::NdbImage;

std::vector<unsigned char> page(const NdbLayout& layout, std::uint8_t ptype, std::uint8_t level, std::uint8_t cEnt,
                                std::mt19937_64& rng) {
  NdbImage image(layout);
  image.putPage(0, ptype, level, cEnt, 0x40, 0x1234, rng);
  return image.bytes;
}

TEST(PageCheck, AnsiNbtLeafGeometry) {
  std::mt19937_64 rng(1);
  NdbImage image(kAnsiLayout);
  image.bytes = page(kAnsiLayout, kPageTypeNbt, 0, 31, rng);
  ASSERT_EQ(image.bytes[497], 31);
  ASSERT_EQ(image.bytes[498], 16);
  EXPECT_TRUE(isBTreePage(kAnsiLayout, image.bytes.data(), 512));
  EXPECT_FALSE(isBTreePage(kAnsiLayout, image.bytes.data(), 511));

  auto over = image;
  over.bytes[496] = 32;  // cEnt above cEntMax
  over.resealPage(0);
  EXPECT_FALSE(isBTreePage(kAnsiLayout, over.bytes.data(), 512));

  auto repeat = image;
  repeat.bytes[501] = kPageTypeBbt;  // ptypeRepeat differs
  repeat.resealPage(0);
  EXPECT_FALSE(isBTreePage(kAnsiLayout, repeat.bytes.data(), 512));

  auto damaged = image;
  damaged.bytes[100] ^= 1;  // payload change without a new CRC
  EXPECT_FALSE(isBTreePage(kAnsiLayout, damaged.bytes.data(), 512));

  auto other = image;
  other.bytes[500] = other.bytes[501] = 0x82;  // not a B-tree page type
  other.resealPage(0);
  EXPECT_FALSE(isBTreePage(kAnsiLayout, other.bytes.data(), 512));
}

TEST(PageCheck, UnicodeBbtLeafGeometry) {
  std::mt19937_64 rng(2);
  NdbImage image(kUnicodeLayout);
  image.bytes = page(kUnicodeLayout, kPageTypeBbt, 0, 20, rng);
  ASSERT_EQ(image.bytes[490], 24);
  ASSERT_EQ(image.bytes[489], 20);
  EXPECT_TRUE(isBTreePage(kUnicodeLayout, image.bytes.data(), 512));
  EXPECT_FALSE(isBTreePage(kAnsiLayout, image.bytes.data(), 512));  // the other variant's layout

  auto wider = image;
  wider.bytes[489] = 21;
  wider.resealPage(0);
  EXPECT_FALSE(isBTreePage(kUnicodeLayout, wider.bytes.data(), 512));

  // An intermediate page carries BTENTRYs whatever its ptype.
  auto intermediate = image;
  intermediate.bytes[491] = 1;
  intermediate.resealPage(0);
  EXPECT_TRUE(isBTreePage(kUnicodeLayout, intermediate.bytes.data(), 512));
  auto nbtIntermediate = page(kUnicodeLayout, kPageTypeNbt, 3, 5, rng);
  EXPECT_EQ(nbtIntermediate[490], 24);
  EXPECT_TRUE(isBTreePage(kUnicodeLayout, nbtIntermediate.data(), 512));
}

TEST(PageCheck, LevelAboveSevenFails) {
  std::mt19937_64 rng(3);
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    NdbImage image(*layout);
    image.putPage(0, kPageTypeBbt, 7, 3, 0x40, 0, rng);
    EXPECT_TRUE(isBTreePage(*layout, image.bytes.data(), 512));
    image.bytes[layout->cLevelOffset] = 8;
    image.resealPage(0);
    EXPECT_FALSE(isBTreePage(*layout, image.bytes.data(), 512));
  }
}

TEST(HeaderCheck, MagicAndCrcOnly) {
  std::mt19937_64 rng(4);
  NdbImage ansi(kAnsiLayout);
  ansi.putHeader(0, rng);  // wVer and the rest are random bytes
  EXPECT_TRUE(isHeader(kAnsiLayout, ansi.bytes.data(), 479));
  EXPECT_FALSE(isHeader(kAnsiLayout, ansi.bytes.data(), 478));
  ansi.ensure(512);
  EXPECT_TRUE(isHeader(kAnsiLayout, ansi.bytes.data(), 512));
  auto badMagic = ansi;
  badMagic.bytes[3] = 'M';
  EXPECT_FALSE(isHeader(kAnsiLayout, badMagic.bytes.data(), 512));
  auto badCrc = ansi;
  badCrc.bytes[478] ^= 0x40;  // the last byte the partial CRC covers
  EXPECT_FALSE(isHeader(kAnsiLayout, badCrc.bytes.data(), 512));

  NdbImage unicode(kUnicodeLayout);
  unicode.putHeader(0, rng);
  unicode.put32(4, 0xBAD0BAD0);  // dwCRCPartial is not looked at
  unicode.resealHeader(0);
  EXPECT_TRUE(isHeader(kUnicodeLayout, unicode.bytes.data(), 531));
  EXPECT_FALSE(isHeader(kUnicodeLayout, unicode.bytes.data(), 530));
  unicode.bytes[523] ^= 1;
  EXPECT_FALSE(isHeader(kUnicodeLayout, unicode.bytes.data(), 531));
}

TEST(ScanArithmetic, TrimmedLengthAndProgress) {
  const unsigned char bytes[] = {1, 0, 2, 0, 0};
  EXPECT_EQ(trimmedLength(bytes, 5), 3u);
  EXPECT_EQ(trimmedLength(bytes, 2), 1u);
  EXPECT_EQ(trimmedLength(bytes + 3, 2), 0u);
  EXPECT_EQ(progressValue(17, 65536, 1 << 20, 2), 20);
  EXPECT_EQ(progressValue(17, 1 << 20, 1 << 20, 2), 67);
  EXPECT_EQ(progressValue(0, 1 << 20, 1 << 20, 6), 16);
}

}  // namespace
}  // namespace vexl::ndbcheck
