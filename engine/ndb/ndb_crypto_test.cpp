#include "engine/ndb/ndb_crypto.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "engine/ndb/ndb_scan.h"
#include "engine/ndb/test_ndb_support.h"

namespace vexl::ndbcrypt {
namespace {

std::vector<unsigned char> randomBytes(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<unsigned char> v(n);
  for (auto& c : v) c = static_cast<unsigned char>(rng());
  return v;
}

TEST(NdbCrc, CheckValuesAndPublishedTable) {
  const unsigned char digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(crcBytewise(0, digits, 9), 0x2DFD2D88u);
  EXPECT_EQ(crc(0, digits, 9), 0x2DFD2D88u);
  EXPECT_EQ(kCrcTable[1], 0x77073096u);
  EXPECT_EQ(kCrcTable[255], 0x2D02EF8Du);
  const std::vector<unsigned char> zeros(10000, 0);
  EXPECT_EQ(crc(0, zeros.data(), zeros.size()), 0u);
}

TEST(NdbCrc, FastFormsAgreeWithBytewise) {
  const auto bytes = randomBytes(300, 1);
  for (std::size_t offset = 0; offset < 9; ++offset)
    for (std::size_t n = 0; n + offset <= 200; ++n)
      ASSERT_EQ(crc(0xA5A5A5A5u, bytes.data() + offset, n), crcBytewise(0xA5A5A5A5u, bytes.data() + offset, n))
          << offset << " " << n;
  for (unsigned r = 0; r < 8; ++r)
    for (std::uint32_t c : {0u, 1u, 0x80000000u, 0xDEADBEEFu})
      EXPECT_EQ(advanceShort(c, bytes.data() + 17, r), crcBytewise(c, bytes.data() + 17, r)) << r;
}

TEST(NdbCrc, PrefixStatesGiveTheCrcOfAnySpan) {
  const auto bytes = randomBytes(20000, 2);
  std::vector<std::uint32_t> a(1001), b(1501);
  prefixStates8x2(bytes.data(), 1000, a.data(), bytes.data() + 8000, 1500, b.data());
  EXPECT_EQ(a[1000], crc(0, bytes.data(), 8000));
  EXPECT_EQ(b[1500], crc(0, bytes.data() + 8000, 12000));
  // The CRC of [p, p + n) is state(p + n) combined with state(p) shifted by n.
  std::mt19937_64 rng(3);
  for (int i = 0; i < 200; ++i) {
    const std::uint32_t p = static_cast<std::uint32_t>(rng() % 4000);
    const std::uint32_t n = static_cast<std::uint32_t>(rng() % 4000);
    const std::uint32_t sp = crcBytewise(a[p / 8], bytes.data() + p / 8 * 8, p % 8);
    const std::uint32_t se = crcBytewise(a[(p + n) / 8], bytes.data() + (p + n) / 8 * 8, (p + n) % 8);
    ASSERT_EQ(se ^ shiftState(sp, n), crc(0, bytes.data() + p, n)) << p << " " << n;
  }
}

TEST(NdbCrc, CarrylessMultiplyMatchesZeroRuns) {
  std::mt19937_64 rng(4);
  const std::vector<unsigned char> zeros(20000, 0);
  for (std::uint32_t n : {0u, 1u, 2u, 3u, 4u, 7u, 8u, 63u, 500u, 8191u, 8192u, 8193u, 19999u}) {
    const auto s = static_cast<std::uint32_t>(rng());
    EXPECT_EQ(shiftState(s, n), crcBytewise(s, zeros.data(), n)) << n;
  }
  for (int i = 0; i < 1000; ++i) {
    const auto a = static_cast<std::uint32_t>(rng());
    const auto b = static_cast<std::uint32_t>(rng());
    ASSERT_EQ(multiplyMod(a, b), multiplyModPortable(a, b));
    ASSERT_EQ(multiplyMod(a, b), multiplyMod(b, a));
  }
  EXPECT_EQ(multiplyMod(0x80000000u, 0x12345678u), 0x12345678u);  // x^0 is the unit
}

TEST(NdbSignature, LowHalvesOnly) {
  EXPECT_EQ(signature(0x4400, 0x2D4), 0x46D4);
  EXPECT_EQ(signature(0x1234'0000'4400ull, 0xFFFF'0000'02D4ull), 0x46D4);
  EXPECT_EQ(signature(0x12345678, 0), 0x1234 ^ 0x5678);
}

TEST(NdbPermute, PublishedTablesAreConsistent) {
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(kMpbbCrypt[512 + kMpbbCrypt[i]], i);            // mpbbI inverts mpbbR
    EXPECT_EQ(kMpbbCrypt[256 + kMpbbCrypt[256 + i]], i);      // mpbbS is its own inverse
  }
  EXPECT_EQ(kMpbbCrypt[0], 0x41);
  EXPECT_EQ(kMpbbCrypt[255], 0x3D);
  EXPECT_EQ(kMpbbCrypt[256], 0x14);
  EXPECT_EQ(kMpbbCrypt[767], 0xEC);
}

TEST(NdbPermute, DecodeThenEncodeRestores) {
  const auto original = randomBytes(1000, 5);
  auto bytes = original;
  permute(bytes.data(), bytes.size(), false);
  EXPECT_NE(bytes, original);
  permute(bytes.data(), bytes.size(), true);
  EXPECT_EQ(bytes, original);
  permute(nullptr, 0, false);  // an empty buffer is left alone
}

TEST(NdbCyclic, IsItsOwnInverseAndKeyedByTheFoldedKey) {
  const auto original = randomBytes(1000, 6);
  auto bytes = original;
  cyclic(bytes.data(), bytes.size(), 0x12345678);
  EXPECT_NE(bytes, original);
  auto again = bytes;
  cyclic(again.data(), again.size(), 0x12345678);
  EXPECT_EQ(again, original);
  // Only key ^ (key >> 16), 16 bits, matters.
  auto other = original;
  cyclic(other.data(), other.size(), 0x0000'444C);  // 0x1234 ^ 0x5678
  EXPECT_EQ(other, bytes);
  auto different = original;
  cyclic(different.data(), different.size(), 0x12345679);
  EXPECT_NE(different, bytes);
}

// The decode table is the right one: data blocks of a real permute-encoded
// store decode to heap-on-node blocks (signature byte 0xEC at offset 2).
TEST(NdbPermute, DecodesRealBlocksToHeaps) {
  std::ifstream in(std::filesystem::path(BRELLIN_SAMPLES_DIR) / "outlook-empty-unicode.pst", std::ios::binary);
  ASSERT_TRUE(in);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  testing::MemorySource source(bytes);
  ScanResults results;
  scanNdbFile(kUnicodeLayout, source, {}, 0, 1, nullptr, results);
  int heaps = 0, plainHeaps = 0;
  for (const auto& list : results.blocks.lists()) {
    const BlockEntry& e = list.versions.back();
    if ((e.bid & 2) != 0 || e.cb < 12) continue;
    std::vector<unsigned char> data(bytes.begin() + static_cast<std::ptrdiff_t>(e.offset),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(e.offset + e.cb));
    plainHeaps += data[2] == 0xEC;
    permute(data.data(), data.size(), false);
    heaps += data[2] == 0xEC;
  }
  EXPECT_GT(heaps, 20);
  EXPECT_LT(plainHeaps, heaps / 4);
}

}  // namespace
}  // namespace vexl::ndbcrypt
