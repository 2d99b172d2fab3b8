// The wide (AVX2, PCLMUL) and narrow forms of the scan's filters give the
// same output, and the scan with the wide forms switched off still matches
// the one-position reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/ndb/ndb_crypto.h"
#include "engine/ndb/ndb_scan.h"
#include "engine/ndb/ndb_scan_simd.h"
#include "engine/ndb/test_ndb_support.h"
#include "engine/ndb/test_reference_scan.h"

namespace vexl::testing {
namespace {

// Restores the wide forms after each test.
class ScanSimd : public ::testing::Test {
 protected:
  void TearDown() override { scansimd::allowWideForms(true); }
};

// Bytes where every filter finds something: trailer-like runs, page type
// bytes, "!B" pairs, zeros and noise.
std::vector<unsigned char> filterFood(std::uint64_t seed, std::size_t size) {
  std::mt19937_64 rng(seed);
  std::vector<unsigned char> bytes(size + 256, 0);
  const unsigned char pool[] = {0x00, 0x01, 0x02, 0x1F, 0x20, 0x80, 0x81, 0xFE, 0xFF, '!', 'B'};
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = rng() % 3 == 0 ? static_cast<unsigned char>(rng()) : pool[rng() % sizeof(pool)];
  return bytes;
}

template <typename Filter>
std::vector<std::uint32_t> run(Filter filter, std::size_t count) {
  std::vector<std::uint32_t> out(count + 64);
  out.resize(filter(out.data()));
  return out;
}

TEST_F(ScanSimd, FiltersAgreeAcrossForms) {
  for (std::uint64_t seed = 1; seed <= 20; ++seed) {
    const std::size_t count = 1 + static_cast<std::size_t>(seed * 977 % 5000);
    const auto bytes = filterFood(seed, count + 64);
    const scansimd::TrailerFilter filters[] = {{0, 8, 0x1F}, {0, 8, 0x00}, {2, 4, 0xFF}};
    for (int wide = 1; wide >= 0; --wide) {
      scansimd::allowWideForms(wide != 0);
      static std::vector<std::uint32_t> expected[5];
      std::vector<std::uint32_t> got[5];
      for (int f = 0; f < 3; ++f)
        got[f] = run([&](std::uint32_t* out) { return scansimd::trailerCandidates(bytes.data(), count, filters[f], out); },
                     count);
      got[3] = run([&](std::uint32_t* out) {
        return scansimd::pageTypeCandidates(bytes.data(), bytes.data() + 1, count, out);
      }, count);
      got[4] = run([&](std::uint32_t* out) { return scansimd::headerCandidates(bytes.data(), count, out); }, count);
      if (wide) {
        for (int f = 0; f < 5; ++f) expected[f] = got[f];
        continue;
      }
      for (int f = 0; f < 5; ++f) EXPECT_EQ(expected[f], got[f]) << "seed " << seed << " filter " << f;
      // And the narrow form against the plain definitions.
      std::vector<std::uint32_t> plain;
      for (std::size_t i = 0; i < count; ++i)
        if (bytes[i] == '!' && bytes[i + 1] == 'B') plain.push_back(static_cast<std::uint32_t>(i));
      EXPECT_EQ(plain, got[4]) << "seed " << seed;
      for (int f = 0; f < 3; ++f) {
        const scansimd::TrailerFilter& t = filters[f];
        plain.clear();
        for (std::size_t i = 0; i < count; ++i) {
          const unsigned char* tr = bytes.data() + i;
          if (tr[t.cbOffset + 1] <= t.cbHighMax && (tr[t.cbOffset] | tr[t.cbOffset + 1]) != 0 &&
              (tr[t.bidOffset] & 1) == 0)
            plain.push_back(static_cast<std::uint32_t>(i));
        }
        EXPECT_EQ(plain, got[f]) << "seed " << seed << " filter " << f;
      }
    }
  }
}

TEST_F(ScanSimd, CombineAgreesWithMultiplyMod) {
  std::mt19937_64 rng(7);
  std::vector<std::uint32_t> a(300), b(300), x(300), out(300);
  for (std::size_t k = 0; k < a.size(); ++k) {
    a[k] = static_cast<std::uint32_t>(rng());
    b[k] = static_cast<std::uint32_t>(rng());
    x[k] = static_cast<std::uint32_t>(rng());
  }
  for (int wide = 1; wide >= 0; --wide) {
    scansimd::allowWideForms(wide != 0);
    scansimd::combineCrcs(a.data(), b.data(), x.data(), out.data(), a.size());
    for (std::size_t k = 0; k < a.size(); ++k)
      ASSERT_EQ(out[k], x[k] ^ ndbcrypt::multiplyModPortable(a[k], b[k])) << "wide " << wide << " k " << k;
  }
}

TEST_F(ScanSimd, FoldedSpanCrcsMatchTheTableCrc) {
  if (!scansimd::wideForms()) GTEST_SKIP() << "no carry-less multiply here";
  std::mt19937_64 rng(11);
  // Noise with zero runs; four runs of different lengths and starts.
  std::vector<unsigned char> bytes(4 * 20000 + 64);
  for (auto& b : bytes) b = rng() % 4 == 0 ? 0 : static_cast<unsigned char>(rng());
  const unsigned char* starts[4] = {bytes.data(), bytes.data() + 20001, bytes.data() + 40007, bytes.data() + 60000};
  const std::size_t blocks[4] = {20000 / 16, 19000 / 16, 20000 / 16, 17 / 16};
  std::vector<scansimd::FoldState> states[4];
  scansimd::FoldState* outs[4];
  for (int r = 0; r < 4; ++r) {
    states[r].resize(blocks[r] + 1);
    outs[r] = states[r].data();
  }
  scansimd::foldStates(starts, blocks, outs);
  std::vector<scansimd::SpanQuery> spans;
  std::vector<std::uint32_t> expected;
  for (int i = 0; i < 4000; ++i) {
    const int r = i % 4;
    const std::uint32_t limit = static_cast<std::uint32_t>(16 * blocks[r]);
    if (limit < 2) continue;
    // Every end residue, the shortest and longest spans, anything between.
    std::uint32_t cb = i % 7 == 0 ? 1 + static_cast<std::uint32_t>(i % 16)
                                  : 1 + static_cast<std::uint32_t>(rng() % scansimd::kFoldedSpanMax);
    cb = std::min(cb, limit - 1);
    if (i % 11 == 0) cb = std::min(scansimd::kFoldedSpanMax, limit - 1);
    const std::uint32_t offset = static_cast<std::uint32_t>(rng() % (limit - cb + 1));
    spans.push_back({starts[r], outs[r], offset, cb});
    expected.push_back(ndbcrypt::crc(0, starts[r] + offset, cb));
  }
  std::vector<std::uint32_t> got(spans.size());
  scansimd::foldedSpanCrcs(spans.data(), spans.size(), got.data());
  for (std::size_t k = 0; k < spans.size(); ++k)
    ASSERT_EQ(expected[k], got[k]) << "offset " << spans[k].offset << " cb " << spans[k].cb;
  // Whole buffers of every length up to a few groups past a page, either form.
  for (int wide = 1; wide >= 0; --wide) {
    scansimd::allowWideForms(wide != 0);
    for (std::size_t n = 0; n <= 600; ++n)
      ASSERT_EQ(ndbcrypt::crcBytewise(0, bytes.data() + 3, n), scansimd::crc(bytes.data() + 3, n)) << n;
  }
}

TEST_F(ScanSimd, NarrowFormsMatchReference) {
  scansimd::allowWideForms(false);
  for (std::uint64_t seed = 201; seed <= 212; ++seed) {
    const NdbLayout& layout = seed % 2 ? kAnsiLayout : kUnicodeLayout;
    const auto bytes = randomNdbFile(layout, seed, 80000);
    for (int combo = 0; combo < 4; ++combo) {
      const ScanOptions options{(combo & 1) != 0, (combo & 2) != 0};
      MemorySource a(bytes), b(bytes);
      ScanResults expected, actual;
      referenceScan(layout, a, options, 17, 2, nullptr, expected);
      scanNdbFile(layout, b, options, 17, 2, nullptr, actual);
      EXPECT_TRUE(expected == actual) << "seed " << seed << " combo " << combo << ": "
                                      << describeDifference(expected, actual);
      EXPECT_TRUE(a.events == b.events) << "seed " << seed << " combo " << combo;
    }
    MemorySource a(bytes), b(bytes);
    EXPECT_TRUE(referenceDecision(a, 0, 6) == countVariantPages(b, 0, 6)) << "seed " << seed;
  }
}

}  // namespace
}  // namespace vexl::testing
