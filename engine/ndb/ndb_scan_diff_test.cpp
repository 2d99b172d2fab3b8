// The production scan and decision against the one-position reference, on
// generated files and on every shared sample, in every option combination,
// with and without a stop request.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "engine/ndb/ndb_scan.h"
#include "engine/ndb/test_ndb_support.h"
#include "engine/ndb/test_reference_scan.h"

namespace vexl::testing {
namespace {

const NdbLayout& layoutFor(int variant) { return variant == 32 ? kAnsiLayout : kUnicodeLayout; }

struct Run {
  ScanResults results;
  std::vector<ScanEvent> events;
  std::uint64_t finishedAt = 0;
};

template <typename ScanFn>
Run runScan(ScanFn scan, const std::vector<unsigned char>& bytes, std::uint32_t stopAtQuery) {
  MemorySource source(bytes);
  source.stopAtQuery = stopAtQuery;
  Run run;
  scan(source, run.results);
  run.events = std::move(source.events);
  run.finishedAt = source.finishedAt;
  return run;
}

// Runs both scans and demands identical output. Returns the number of
// abort queries the reference made.
std::uint32_t expectSameScan(const NdbLayout& layout, const std::vector<unsigned char>& bytes, ScanOptions options,
                             std::uint32_t stopAtQuery, const std::string& what) {
  std::uint32_t queries = 0;
  Run expected = runScan(
      [&](MemorySource& s, ScanResults& r) {
        referenceScan(layout, s, options, 17, 2, nullptr, r);
        queries = s.queries();
      },
      bytes, stopAtQuery);
  Run actual = runScan([&](MemorySource& s, ScanResults& r) { scanNdbFile(layout, s, options, 17, 2, nullptr, r); },
                       bytes, stopAtQuery);
  const std::string label = what + " fast=" + std::to_string(options.fastRecovery) +
                            " ignoreZero=" + std::to_string(options.ignoreZeroBlock) +
                            " stopAt=" + std::to_string(stopAtQuery);
  EXPECT_TRUE(expected.results == actual.results) << label << ": " << describeDifference(expected.results, actual.results);
  EXPECT_TRUE(expected.events == actual.events)
      << label << ": events " << expected.events.size() << " vs " << actual.events.size();
  EXPECT_EQ(expected.finishedAt, actual.finishedAt) << label;
  return queries;
}

void expectSameDecision(const std::vector<unsigned char>& bytes, std::uint32_t stopAtQuery, const std::string& what) {
  MemorySource a(bytes), b(bytes);
  a.stopAtQuery = b.stopAtQuery = stopAtQuery;
  const VariantCounts expected = referenceDecision(a, 0, 6);
  const VariantCounts actual = countVariantPages(b, 0, 6);
  EXPECT_TRUE(expected == actual) << what << ": ansi " << expected.ansiPages << "/" << actual.ansiPages << " unicode "
                                  << expected.unicodePages << "/" << actual.unicodePages << " header "
                                  << expected.unicodeHeader << "/" << actual.unicodeHeader << " stop "
                                  << expected.stopPosition << "/" << actual.stopPosition;
  EXPECT_TRUE(a.events == b.events) << what << ": decision events differ";
  EXPECT_EQ(a.finishedAt, b.finishedAt) << what;
}

void expectSameEverywhere(const NdbLayout& layout, const std::vector<unsigned char>& bytes, const std::string& what,
                          std::uint64_t seed) {
  for (int combo = 0; combo < 4; ++combo) {
    ScanOptions options{(combo & 1) != 0, (combo & 2) != 0};
    const std::uint32_t queries = expectSameScan(layout, bytes, options, 0, what);
    // A stop at some query, different per combination.
    if (queries > 1) expectSameScan(layout, bytes, options, 1 + static_cast<std::uint32_t>((seed + combo * 7919) % queries), what);
  }
  expectSameDecision(bytes, 0, what);
}

// What the generated files exercised, so that the comparison is not vacuous.
struct Coverage {
  std::size_t blocks = 0, zeroBlocks = 0, unaligned = 0, sharedStart = 0, duplicates = 0, pages = 0, headers = 0;
  void add(const ScanResults& r) {
    std::map<std::uint64_t, int> starts;
    for (const auto& list : r.blocks.lists()) {
      if (list.versions.size() > 1) ++duplicates;
      for (const auto& e : list.versions) {
        ++blocks;
        zeroBlocks += e.zero;
        unaligned += (e.offset % 64) != 0;
        if (++starts[e.offset] == 2) ++sharedStart;
      }
    }
    for (int level = 0; level < 8; ++level) pages += r.bbtPages[level].versionCount() + r.nbtPages[level].versionCount();
    headers += r.header.has_value();
  }
};

TEST(ScanDifferential, GeneratedFiles) {
  // Sized to keep the sanitizer build well inside its time budget.
  Coverage coverage;
  for (std::uint64_t seed = 1; seed <= 48; ++seed) {
    const NdbLayout& layout = layoutFor(seed % 2 ? 32 : 64);
    const auto bytes = randomNdbFile(layout, seed, seed % 8 == 0 ? 300000 : 60000);
    expectSameEverywhere(layout, bytes, "seed " + std::to_string(seed), seed);
    if (::testing::Test::HasFailure()) break;
    MemorySource source(bytes);
    ScanResults results;
    scanNdbFile(layout, source, {}, 0, 1, nullptr, results);
    coverage.add(results);
  }
  EXPECT_GT(coverage.blocks, 500u);
  EXPECT_GT(coverage.zeroBlocks, 10u);
  EXPECT_GT(coverage.unaligned, 100u);
  EXPECT_GT(coverage.sharedStart, 5u);
  EXPECT_GT(coverage.duplicates, 10u);
  EXPECT_GT(coverage.pages, 50u);
  EXPECT_GT(coverage.headers, 5u);
}

// Small chunks and pieces on two threads: many chunk and piece boundaries,
// FastRecovery steps across them, stops next to them.
class SmallChunks : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = scanTuning();
    scanTuning() = ScanTuning{20000, 3000, 0};
  }
  void TearDown() override { scanTuning() = saved_; }

 private:
  ScanTuning saved_{};
};

TEST_F(SmallChunks, GeneratedFiles) {
  for (std::uint64_t seed = 101; seed <= 124; ++seed) {
    const NdbLayout& layout = layoutFor(seed % 2 ? 32 : 64);
    const auto bytes = randomNdbFile(layout, seed, 120000);
    expectSameEverywhere(layout, bytes, "small chunks, seed " + std::to_string(seed), seed);
    if (::testing::Test::HasFailure()) break;
  }
}

TEST(ScanDifferential, StopBeforeFirstPosition) {
  const auto bytes = randomNdbFile(kAnsiLayout, 99, 20000);
  for (int combo = 0; combo < 4; ++combo) expectSameScan(kAnsiLayout, bytes, {(combo & 1) != 0, (combo & 2) != 0}, 1, "stop 1");
  expectSameDecision(bytes, 1, "stop 1");
}

TEST(ScanDifferential, EverySharedSample) {
  const std::filesystem::path dir(BRELLIN_SAMPLES_DIR);
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const auto ext = entry.path().extension();
    if (ext != ".ost" && ext != ".pst") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ++files;
    const std::string name = entry.path().filename().string();
    // The file's own variant, as the decision finds it.
    MemorySource decisionSource(bytes);
    const int variant = countVariantPages(decisionSource, 0, 6).decision();
    EXPECT_EQ(variant, name.rfind("ansi", 0) == 0 ? 32 : 64) << name;
    const NdbLayout& layout = layoutFor(variant);
    for (int combo = 0; combo < 4; ++combo)
      expectSameScan(layout, bytes, {(combo & 1) != 0, (combo & 2) != 0}, 0, name);
    expectSameDecision(bytes, 0, name);

    // A real store: blocks, NBT leaf pages and its HEADER at offset 0.
    MemorySource source(bytes);
    ScanResults results;
    scanNdbFile(layout, source, {}, 17, 2, nullptr, results);
    EXPECT_GT(results.blocks.keyCount(), 10u) << name;
    EXPECT_GT(results.nbtPages[0].versionCount(), 0u) << name;
    EXPECT_GT(results.bbtPages[0].versionCount(), 0u) << name;
    ASSERT_TRUE(results.header.has_value()) << name;
    EXPECT_EQ(results.header->offset, 0u) << name;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace vexl::testing
