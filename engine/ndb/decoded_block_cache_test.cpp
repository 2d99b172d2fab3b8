// The decoded-block cache alone: its bound, which block goes first, and
// that every part of the key tells blocks apart.
#include "engine/ndb/decoded_block_cache.h"

#include <gtest/gtest.h>

namespace vexl {
namespace {

using Key = DecodedBlockCache::Key;

DecodedBlockCache::Block blockOf(unsigned char fill) {
  return std::make_shared<const std::vector<unsigned char>>(4, fill);
}
Key keyAt(std::uint64_t offset) { return Key{offset, 0x104, 4, CryptMode::None}; }

TEST(DecodedBlockCache, TheLeastRecentlyUsedBlockGoesFirst) {
  DecodedBlockCache cache(3);
  for (unsigned char i = 1; i <= 3; ++i) cache.insert(keyAt(i), blockOf(i));
  // A hit makes block 1 the most recent: block 2 is the one to go.
  ASSERT_NE(cache.find(keyAt(1)), nullptr);
  cache.insert(keyAt(4), blockOf(4));
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.find(keyAt(2)), nullptr);
  for (unsigned char i : {1, 3, 4}) {
    const auto b = cache.find(keyAt(i));
    ASSERT_NE(b, nullptr) << int{i};
    EXPECT_EQ((*b)[0], i);
  }
  // Storing a key again replaces its block and does not grow the cache.
  cache.insert(keyAt(3), blockOf(9));
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ((*cache.find(keyAt(3)))[0], 9);
  EXPECT_NE(cache.find(keyAt(1)), nullptr);
  EXPECT_NE(cache.find(keyAt(4)), nullptr);
  cache.clear();
  EXPECT_EQ(cache.size(), 0u);
  EXPECT_EQ(cache.find(keyAt(1)), nullptr);
}

TEST(DecodedBlockCache, EveryPartOfTheKeyCounts) {
  DecodedBlockCache cache(8);
  const Key key{0x4000, 0x104, 4, CryptMode::Permute};
  cache.insert(key, blockOf(1));
  Key offset = key, bid = key, size = key, mode = key;
  offset.offset += 0x2000;
  bid.bid += 4;
  size.size = 8;
  mode.mode = CryptMode::Cyclic;
  const std::uint64_t before = cache.misses();
  for (const Key& k : {offset, bid, size, mode}) EXPECT_EQ(cache.find(k), nullptr);
  EXPECT_EQ(cache.misses(), before + 4);
  EXPECT_NE(cache.find(key), nullptr);
  EXPECT_EQ(cache.misses(), before + 4);
}

TEST(DecodedBlockCache, ABlockHeldOutlivesItsEviction) {
  DecodedBlockCache cache(1);
  cache.insert(keyAt(1), blockOf(1));
  const auto held = cache.find(keyAt(1));
  cache.insert(keyAt(2), blockOf(2));
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_EQ(cache.find(keyAt(1)), nullptr);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(*held, std::vector<unsigned char>(4, 1));
  // A capacity of 0 is taken as 1: the block just read is always kept.
  DecodedBlockCache none(0);
  none.insert(keyAt(1), blockOf(1));
  EXPECT_NE(none.find(keyAt(1)), nullptr);
}

}  // namespace
}  // namespace vexl
