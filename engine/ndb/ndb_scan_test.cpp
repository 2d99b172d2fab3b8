// The scan and the decision on hand-made files: where blocks, pages and
// HEADERs are recognised, the options, progress and stop, bad input, and
// the NdbFormat operations over a real file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

#include "engine/ndb/ndb_format.h"
#include "engine/ndb/scan_report.h"
#include "engine/ndb/test_ndb_support.h"
#include "engine/ndb/test_reference_scan.h"

namespace vexl::testing {
namespace {

ScanResults scan(const NdbLayout& layout, const std::vector<unsigned char>& bytes, ScanOptions options = {},
                 MemorySource* observed = nullptr) {
  MemorySource local(bytes);
  MemorySource& source = observed != nullptr ? *observed : local;
  ScanResults results;
  scanNdbFile(layout, source, options, 17, 2, nullptr, results);
  return results;
}

std::vector<unsigned char> randomPayload(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<unsigned char> v(n);
  for (auto& c : v) c = static_cast<unsigned char>(rng() | 1);  // no zero bytes
  return v;
}

TEST(ScanBlocks, UnalignedBlockIsRecordedWhereItStarts) {
  NdbImage image(kAnsiLayout);
  image.ensure(1000);
  image.putBlock(3, 0x104, randomPayload(100, 1), 0x5555);
  const ScanResults r = scan(kAnsiLayout, image.bytes);
  ASSERT_EQ(r.blocks.keyCount(), 1u);
  const BlockEntry& e = r.blocks.lists()[0].versions[0];
  EXPECT_EQ(e.offset, 3u);
  EXPECT_EQ(e.allocatedSize, 128u);
  EXPECT_EQ(e.cb, 100);
  EXPECT_EQ(e.wSig, 0x5555);
  EXPECT_EQ(e.bid, 0x104u);
  EXPECT_FALSE(e.zero);
  EXPECT_EQ(e.treeRank, -1);
  EXPECT_EQ(e.usedMark, 0u);
  EXPECT_NE(r.blocks.find(0x105), nullptr);  // look-ups ignore bit 0
}

TEST(ScanBlocks, TrailerMustEndTheRoundedAllocation) {
  // cb 52 + 12 = 64: such a trailer at E = 128 does not describe a block
  // starting 128 bytes before it; cb 53 does.
  for (std::uint16_t cb : {52, 53}) {
    NdbImage image(kAnsiLayout);
    image.ensure(512);
    image.bytes.assign(512, 0x11);
    const auto payload = randomPayload(cb, cb);
    std::copy(payload.begin(), payload.end(), image.bytes.begin() + 100);
    image.sealBlock(100, cb, 0x200);
    // Move the trailer so that it ends at E = 128 for a start at 100.
    std::vector<unsigned char> trailer(image.bytes.begin() + 100 + kAnsiLayout.allocatedSize(cb) - 12,
                                       image.bytes.begin() + 100 + kAnsiLayout.allocatedSize(cb));
    std::fill(image.bytes.begin() + 100 + kAnsiLayout.allocatedSize(cb) - 12,
              image.bytes.begin() + 100 + kAnsiLayout.allocatedSize(cb), 0x11);
    std::copy(trailer.begin(), trailer.end(), image.bytes.begin() + 100 + 128 - 12);
    const ScanResults r = scan(kAnsiLayout, image.bytes);
    const auto* v = r.blocks.versions(0x200);
    if (cb == 52) {
      EXPECT_TRUE(v == nullptr || std::none_of(v->begin(), v->end(), [](auto& e) { return e.offset == 100; }));
    } else {
      ASSERT_NE(v, nullptr);
      EXPECT_EQ(v->front().offset, 100u);
      EXPECT_EQ(v->front().allocatedSize, 128u);
    }
  }
}

TEST(ScanBlocks, LargestBlocksFillTheWholeSpan) {
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    NdbImage image(*layout);
    image.putBlock(0, 0x40, randomPayload(layout->maxPayload, 2));
    EXPECT_EQ(image.bytes.size(), 8192u);  // exactly the file: the last position with n >= 64 reads all of it
    const ScanResults r = scan(*layout, image.bytes);
    ASSERT_NE(r.blocks.find(0x40), nullptr);
    EXPECT_EQ(r.blocks.find(0x40)->allocatedSize, 8192u);
    EXPECT_EQ(r.blocks.find(0x40)->cb, layout->maxPayload);
  }
}

TEST(ScanBlocks, InternalBlocksNeedATypeAndFourBytes) {
  for (int variant = 0; variant < 2; ++variant) {
    const NdbLayout& layout = variant ? kUnicodeLayout : kAnsiLayout;
    NdbImage image(layout);
    image.ensure(2048);
    image.putBlock(0, 0x82, {1, 2, 3});           // internal, cb 3
    image.putBlock(256, 0x86, {1, 0, 1, 0});      // XBLOCK type, cb 4
    image.putBlock(512, 0x8A, {2, 1, 0, 0, 9});   // SLBLOCK type
    image.putBlock(768, 0x8E, {3, 1, 0, 0, 9});   // no such internal type
    image.putBlock(1024, 0x90, {3, 1, 0, 0, 9});  // the same bytes as a data block
    image.putBlock(1280, 0x93, {3, 1, 0, 0, 9});  // bid bit 0 set
    const ScanResults r = scan(layout, image.bytes);
    EXPECT_EQ(r.blocks.find(0x82), nullptr);
    EXPECT_NE(r.blocks.find(0x86), nullptr);
    EXPECT_NE(r.blocks.find(0x8A), nullptr);
    EXPECT_EQ(r.blocks.find(0x8E), nullptr);
    EXPECT_NE(r.blocks.find(0x90), nullptr);
    EXPECT_EQ(r.blocks.find(0x92), nullptr);
  }
}

TEST(ScanBlocks, ZeroBlocksAndTheIgnoreOption) {
  NdbImage image(kAnsiLayout);
  image.ensure(4096);
  image.putBlock(64, 0x44, std::vector<unsigned char>(52, 0));  // 64 bytes: 52 zeros and a trailer
  image.putBlock(1024, 0x48, randomPayload(80, 3));
  const ScanResults kept = scan(kAnsiLayout, image.bytes);
  ASSERT_NE(kept.blocks.find(0x44), nullptr);
  EXPECT_TRUE(kept.blocks.find(0x44)->zero);
  EXPECT_EQ(kept.blocks.find(0x44)->dwCRC, 0u);
  EXPECT_EQ(kept.blocks.find(0x44)->allocatedSize, 64u);
  EXPECT_FALSE(kept.blocks.find(0x48)->zero);
  const ScanResults ignored = scan(kAnsiLayout, image.bytes, {false, true});
  EXPECT_EQ(ignored.blocks.find(0x44), nullptr);
  EXPECT_NE(ignored.blocks.find(0x48), nullptr);
}

TEST(ScanBlocks, CopiesAndNestedBlocksAreAllVersions) {
  NdbImage image(kUnicodeLayout);
  image.ensure(20000);
  const auto payload = randomPayload(300, 4);
  image.putBlock(9000, 0x400, payload);
  image.putBlock(1001, 0x400, payload);  // an older copy earlier in the file
  // A second block starting at the same position as the first copy, around it.
  image.sealBlock(1001, 700, 0x500);
  const ScanResults r = scan(kUnicodeLayout, image.bytes);
  const auto* copies = r.blocks.versions(0x400);
  ASSERT_NE(copies, nullptr);
  ASSERT_EQ(copies->size(), 2u);
  EXPECT_EQ((*copies)[0].offset, 1001u);  // in file order
  EXPECT_EQ((*copies)[1].offset, 9000u);
  ASSERT_NE(r.blocks.find(0x500), nullptr);
  EXPECT_EQ(r.blocks.find(0x500)->offset, 1001u);
  EXPECT_EQ(r.blocks.lists()[0].key, 0x400u);  // found first: smaller allocation at the same start
}

// A block A at P with 150 non-zero and 50 zero payload bytes, a block C
// inside A's non-zero part and a zero block B at P + 150.
std::vector<unsigned char> fastRecoveryFile(std::uint64_t p) {
  NdbImage image(kAnsiLayout);
  image.ensure(p + 1024);
  auto payload = randomPayload(200, 5);
  std::fill(payload.begin() + 150, payload.end(), 0);
  image.putBlock(p, 0x10, payload);
  image.sealBlock(p + 100, 150, 0x20);  // C: trailer beyond A's
  image.sealBlock(p + 150, 60, 0x30);   // B: all zeros, inside A's zero tail
  return image.bytes;
}

TEST(ScanOptionsTest, FastRecoveryStepsOverTheTrimmedPayload) {
  const auto bytes = fastRecoveryFile(4000);
  const ScanResults slow = scan(kAnsiLayout, bytes);
  EXPECT_NE(slow.blocks.find(0x10), nullptr);
  EXPECT_NE(slow.blocks.find(0x20), nullptr);
  ASSERT_NE(slow.blocks.find(0x30), nullptr);
  EXPECT_TRUE(slow.blocks.find(0x30)->zero);

  const ScanResults fast = scan(kAnsiLayout, bytes, {true, false});
  EXPECT_NE(fast.blocks.find(0x10), nullptr);
  EXPECT_EQ(fast.blocks.find(0x20), nullptr);  // inside the 150 bytes jumped over
  EXPECT_NE(fast.blocks.find(0x30), nullptr);  // at P + 150, the next position examined

  // A zero block passed over with IgnoreZeroBlock does not set the step.
  NdbImage image(kAnsiLayout);
  image.ensure(4096);
  image.putBlock(1000, 0x40, std::vector<unsigned char>(100, 0));
  image.sealBlock(1010, 90, 0x44);  // 90 zeros from 1010: also a zero block...
  image.putBlock(1001, 0x48, std::vector<unsigned char>(50, 0));
  const ScanResults both = scan(kAnsiLayout, image.bytes, {true, true});
  EXPECT_EQ(both.blocks.keyCount(), 0u);
}

TEST(ScanPages, PagesGoToTheMapOfTheirTypeAndLevel) {
  std::mt19937_64 rng(6);
  NdbImage image(kUnicodeLayout);
  image.ensure(8192);
  image.putPage(512, kPageTypeNbt, 0, 7, 0x100, 0xAAAA, rng);
  image.putPage(1537, kPageTypeBbt, 2, 3, 0x104, 0xBBBB, rng);
  image.putPage(3000, kPageTypeNbt, 0, 1, 0x100, 0xCCCC, rng);  // the same BID again
  const ScanResults r = scan(kUnicodeLayout, image.bytes);
  const auto* nbt = r.nbtPages[0].versions(0x100);
  ASSERT_NE(nbt, nullptr);
  ASSERT_EQ(nbt->size(), 2u);
  EXPECT_EQ((*nbt)[0], (PageEntry{512, 0xAAAA}));
  EXPECT_EQ((*nbt)[1], (PageEntry{3000, 0xCCCC}));
  ASSERT_NE(r.bbtPages[2].find(0x104), nullptr);
  EXPECT_EQ(*r.bbtPages[2].find(0x104), (PageEntry{1537, 0xBBBB}));
  EXPECT_EQ(r.bbtPages[0].keyCount() + r.nbtPages[2].keyCount(), 0u);
}

TEST(ScanHeader, FirstHeaderIsKept) {
  std::mt19937_64 rng(7);
  NdbImage image(kAnsiLayout);
  image.putHeader(0, rng, {0x21, 0x1000}, {0x22, 0x2000});
  image.putHeader(0x2000, rng, {0x31, 0x3000}, {0x32, 0x4000});
  image.ensure(0x3000);
  const ScanResults r = scan(kAnsiLayout, image.bytes);
  ASSERT_TRUE(r.header.has_value());
  EXPECT_EQ(r.header->offset, 0u);
  ASSERT_EQ(r.header->bytes.size(), 479u);
  EXPECT_TRUE(std::equal(r.header->bytes.begin(), r.header->bytes.end(), image.bytes.begin()));
}

TEST(ScanProgress, OneMebibyteReportsFifteenTimes) {
  const std::vector<unsigned char> bytes(1 << 20, 0);
  MemorySource source(bytes);
  scan(kAnsiLayout, bytes, {}, &source);
  std::vector<ScanEvent> progress;
  for (const auto& e : source.events)
    if (e.kind == ScanEvent::Progress) progress.push_back(e);
  ASSERT_EQ(progress.size(), 15u);
  for (std::size_t i = 0; i < progress.size(); ++i) {
    EXPECT_EQ(progress[i].position, 65536 * (i + 1));
    EXPECT_EQ(progress[i].value, 17 + (65536 * (i + 1)) * 100 / (1 << 20) / 2);
  }
  EXPECT_EQ(progress[0].value, 20u);
  // One query before the first position, one per 4 KiB up to the last
  // position examined (the file length minus 64).
  EXPECT_EQ(source.queries(), 1u + ((1u << 20) - 64) / 4096);
}

TEST(ScanProgress, StopEndsWithinFourKibibytes) {
  NdbImage image(kAnsiLayout);
  image.ensure(40000);
  image.putBlock(1000, 0x40, randomPayload(100, 8));
  image.putBlock(20000, 0x44, randomPayload(100, 9));
  MemorySource source(image.bytes);
  source.stopAtQuery = 3;  // the queries at 0, 4096, 8192
  const ScanResults r = scan(kAnsiLayout, image.bytes, {}, &source);
  EXPECT_TRUE(r.aborted);
  EXPECT_EQ(r.stopPosition, 8192u);
  EXPECT_EQ(source.finishedAt, 8192u);
  EXPECT_NE(r.blocks.find(0x40), nullptr);
  EXPECT_EQ(r.blocks.find(0x44), nullptr);
}

TEST(Decision, PagesAndTheUnicodeHeaderDecide) {
  std::mt19937_64 rng(10);
  auto decide = [](const std::vector<unsigned char>& bytes) {
    MemorySource source(bytes);
    return countVariantPages(source, 0, 6);
  };
  NdbImage none(kUnicodeLayout);
  none.ensure(4096);
  EXPECT_EQ(decide(none.bytes).decision(), 32);

  NdbImage unicodeHeader(kUnicodeLayout);
  unicodeHeader.putHeader(100, rng);
  unicodeHeader.ensure(4096);
  EXPECT_EQ(decide(unicodeHeader.bytes).decision(), 64);

  NdbImage ansiHeader(kAnsiLayout);
  ansiHeader.putHeader(100, rng);
  ansiHeader.ensure(4096);
  EXPECT_EQ(decide(ansiHeader.bytes).decision(), 32);

  // One page of each kind: a tie, decided by the Unicode HEADER.
  NdbImage tie(kUnicodeLayout);
  tie.ensure(8192);
  tie.putPage(1024, kPageTypeNbt, 0, 3, 0x10, 0, rng);
  NdbImage ansiPage(kAnsiLayout);
  ansiPage.bytes = tie.bytes;
  ansiPage.putPage(3072, kPageTypeBbt, 0, 3, 0x10, 0, rng);
  VariantCounts counts = decide(ansiPage.bytes);
  EXPECT_EQ(counts.ansiPages, 1u);
  EXPECT_EQ(counts.unicodePages, 1u);
  EXPECT_EQ(counts.decision(), 32);
  NdbImage tieWithHeader(kUnicodeLayout);
  tieWithHeader.bytes = ansiPage.bytes;
  tieWithHeader.putHeader(6000, rng);
  EXPECT_EQ(decide(tieWithHeader.bytes).decision(), 64);

  // An empty file: ANSI, and no progress reports.
  const std::vector<unsigned char> empty;
  MemorySource source(empty);
  EXPECT_EQ(countVariantPages(source, 0, 6).decision(), 32);
  ASSERT_EQ(source.events.size(), 1u);
  EXPECT_EQ(source.events[0].kind, ScanEvent::Query);
}

TEST(BadInput, ShortAndDegenerateFilesEndCleanly) {
  std::mt19937_64 rng(11);
  std::vector<std::vector<unsigned char>> files;
  for (std::size_t n : {0, 1, 63, 64, 65, 478, 479, 511, 512, 530, 531, 532, 8191, 8192, 8193}) {
    files.emplace_back(n, 0);
    files.emplace_back(n, 0xFF);
    std::vector<unsigned char> noise(n);
    for (auto& c : noise) c = static_cast<unsigned char>(rng());
    files.push_back(noise);
  }
  files.emplace_back(300000, 0);
  files.emplace_back(300000, 0xFF);
  for (const auto& bytes : files) {
    for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
      for (int combo = 0; combo < 4; ++combo) {
        const ScanOptions options{(combo & 1) != 0, (combo & 2) != 0};
        MemorySource a(bytes), b(bytes);
        ScanResults expected, actual;
        referenceScan(*layout, a, options, 17, 2, nullptr, expected);
        scanNdbFile(*layout, b, options, 17, 2, nullptr, actual);
        ASSERT_TRUE(expected == actual) << bytes.size() << ": " << describeDifference(expected, actual);
        if (bytes.size() < 64) {
          EXPECT_EQ(actual.blocks.keyCount(), 0u);
        }
      }
    }
    MemorySource a(bytes), b(bytes);
    EXPECT_TRUE(referenceDecision(a, 0, 6) == countVariantPages(b, 0, 6)) << bytes.size();
  }
}

TEST(BadInput, ReadsEndingBeforeTheReportedLength) {
  // The length says more than the reads deliver: the scan ends where the
  // data ends, and the progress uses the reported length.
  NdbImage image(kAnsiLayout);
  image.ensure(200000);
  image.putBlock(150000, 0x40, randomPayload(500, 12));
  MemorySource a(image.bytes), b(image.bytes);
  a.reportedLength = b.reportedLength = 1 << 20;
  ScanResults expected, actual;
  referenceScan(kAnsiLayout, a, {}, 17, 2, nullptr, expected);
  scanNdbFile(kAnsiLayout, b, {}, 17, 2, nullptr, actual);
  EXPECT_TRUE(expected == actual) << describeDifference(expected, actual);
  EXPECT_TRUE(a.events == b.events);
  EXPECT_NE(actual.blocks.find(0x40), nullptr);
}

// A file on disk for the NdbFormat operations over CFile64Ex.
class TempFile {
 public:
  TempFile() {
    path_ = (std::filesystem::temp_directory_path() /
             ("ndb-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++) + ".ost"))
                .string();
  }
  ~TempFile() { std::filesystem::remove(path_); }
  const std::string& path() const { return path_; }
  void write(const std::vector<unsigned char>& bytes, std::uint64_t at = 0) {
    std::fstream out(path_, std::ios::binary | std::ios::in | std::ios::out);
    if (!out) out.open(path_, std::ios::binary | std::ios::out);
    out.seekp(static_cast<std::streamoff>(at));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::string path_;
  static inline int counter_ = 0;
};

class TestEngine final : public EngineContext {
 public:
  TestEngine(bool fast, bool ignoreZero) : EngineContext(&TestEngine::callback, this) {
    options_.FastRecovery = fast ? -1 : 0;
    options_.IgnoreZeroBlock = ignoreZero ? -1 : 0;
  }
  std::vector<int> progress;
  int queries = 0;

 private:
  static std::int32_t callback(std::int32_t code, void* data, void* user) {
    auto* self = static_cast<TestEngine*>(user);
    if (code == Progress) self->progress.push_back(*static_cast<std::uint8_t*>(data));
    if (code == QueryAbort) ++self->queries;
    return 0;
  }
};

TEST(NdbFormatOverFile, ScanFileMatchesTheReferenceOnEverySample) {
  for (const auto& entry : std::filesystem::directory_iterator(BRELLIN_SAMPLES_DIR)) {
    if (entry.path().extension() != ".ost" && entry.path().extension() != ".pst") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (int combo = 0; combo < 4; ++combo) {
      TestEngine engine((combo & 1) != 0, (combo & 2) != 0);
      CFile64Ex file(65536);
      ASSERT_TRUE(file.open(entry.path().string(), kSourceOpenMode, nullptr));
      AnsiNdbFormat ansi(engine, file);
      UnicodeNdbFormat unicode(engine, file);
      const std::uint8_t variant = decideVariant(engine, file, ansi, unicode, 0, 6);
      NdbFormat& format = variant == 64 ? static_cast<NdbFormat&>(unicode) : static_cast<NdbFormat&>(ansi);
      format.scanOnly(17, 2);

      MemorySource source(bytes);
      ScanResults expected;
      // Fast and exact: the production scan over memory stands in for the
      // reference here; the differential test ties the two together.
      scanNdbFile(format.layout(), source, {(combo & 1) != 0, (combo & 2) != 0}, 17, 2, &format, expected);
      EXPECT_TRUE(expected == format.scanResults()) << entry.path() << ": "
                                                    << describeDifference(expected, format.scanResults());
      EXPECT_EQ(file.position(), format.scanResults().stopPosition);
      // With the rebuild: every key stays, lists keep a subset of their
      // versions, and the file is left where the scan stopped.
      const std::uint32_t count = format.scanFile(17, 2);
      EXPECT_EQ(count, format.blockIndex().keyCount() + format.nodeIndex().keyCount());
      EXPECT_EQ(format.blockIndex().keyCount(), expected.blocks.keyCount());
      EXPECT_GT(format.nodeIndex().keyCount(), 0u);
      EXPECT_EQ(file.position(), format.scanResults().stopPosition);
      if (bytes.size() > 65536 + 479) {
        ASSERT_FALSE(engine.progress.empty());
        EXPECT_LE(engine.progress.back(), 67);
        EXPECT_LE(engine.progress.front(), 17);  // the decision's reports come first
      }
      ASSERT_TRUE(format.rootBbt().has_value());
      EXPECT_NE(format.rootNbt()->bid, 0u);
    }
  }
}

TEST(NdbFormatOverFile, VariantOperations) {
  TestEngine engine(false, false);
  CFile64Ex file(65536);
  AnsiNdbFormat ansi(engine, file);
  UnicodeNdbFormat unicode(engine, file);
  EXPECT_EQ(ansi.blockPayloadSize(), 8180u);
  EXPECT_EQ(unicode.blockPayloadSize(), 8176u);
  EXPECT_EQ(unicode.computeSig(0x4400, 0x2D4), 0x46D4);
  const unsigned char digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(ansi.computeCrc(0, digits, 9), 0x2DFD2D88u);
  EXPECT_EQ(unicode.computeCrc(0, digits + 1, 8), ansi.computeCrc(0, digits + 1, 8));
  std::mt19937_64 rng(13);
  NdbImage image(kUnicodeLayout);
  image.putPage(0, kPageTypeNbt, 0, 2, 0x10, 0, rng);
  EXPECT_TRUE(unicode.isBTreePage(12345, image.bytes.data(), 512));
  EXPECT_FALSE(ansi.isBTreePage(12345, image.bytes.data(), 512));
}

TEST(NdbFormatOverFile, SparseFileBeyondFourGibibytes) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a 4.3 GB scan is too slow under the sanitizers";
#endif
  TempFile temp;
  const std::uint64_t far = (4ull << 30) + 12345;
  std::mt19937_64 rng(14);
  NdbImage block(kUnicodeLayout);
  block.putBlock(0, 0x1234'5678'9ABCull << 2, randomPayload(700, 15), 0x7777);
  NdbImage header(kUnicodeLayout);
  header.putHeader(0, rng);
  temp.write(header.bytes, far - 70000);
  temp.write(block.bytes, far);
  temp.write(std::vector<unsigned char>(100, 0), far + 20000);  // the end of the file

  TestEngine engine(false, false);
  CFile64Ex file(65536);
  ASSERT_TRUE(file.open(temp.path(), kSourceOpenMode, nullptr));
  AnsiNdbFormat ansi(engine, file);
  UnicodeNdbFormat unicode(engine, file);
  EXPECT_EQ(unicode.scanFile(17, 2), 1u);
  const BlockEntry* e = unicode.blockIndex().find(0x1234'5678'9ABCull << 2);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->offset, far);
  EXPECT_EQ(e->format, &unicode);
  EXPECT_EQ(e->wSig, 0x7777);
  ASSERT_TRUE(unicode.scanResults().header.has_value());
  EXPECT_EQ(unicode.scanResults().header->offset, far - 70000);
  EXPECT_EQ(unicode.scanResults().stopPosition, far + 20100 - 63);
  EXPECT_EQ(engine.progress.back(), 66);
}

TEST(ScanReportTest, JsonOnEverySample) {
  for (const auto& entry : std::filesystem::directory_iterator(BRELLIN_SAMPLES_DIR)) {
    if (entry.path().extension() != ".ost" && entry.path().extension() != ".pst") continue;
    std::string error;
    const auto report = runScanReport(entry.path().string(), {}, &error);
    ASSERT_TRUE(report.has_value()) << error;
    EXPECT_TRUE(report->decided);
    EXPECT_EQ(report->variant, report->decision);
    EXPECT_EQ(report->headerOffset, 0);
    EXPECT_GT(report->distinctBids, 0u);
    EXPECT_GE(report->blocks, report->distinctBids);
    EXPECT_EQ(report->zeroBlocks, 0u);  // ignored by default
    EXPECT_GE(report->nbtPages, report->nbtLeafPages);
    const std::string json = formatScanReportJson(*report);
    for (const char* key : {"ansi_pages", "unicode_pages", "unicode_header", "decision", "variant", "blocks",
                            "zero_blocks", "distinct_bids", "bbt_pages", "nbt_pages", "nbt_leaf_pages",
                            "header_offset", "seconds"})
      EXPECT_NE(json.find("\"" + std::string(key) + "\": "), std::string::npos) << key;
    EXPECT_EQ(json.front(), '{');
  }
  ScanRequest fixed;
  fixed.variant = ScanRequest::Variant::Ansi;
  const auto ansi = runScanReport((std::filesystem::path(BRELLIN_SAMPLES_DIR) / "ansi-calendar.pst").string(), fixed);
  ASSERT_TRUE(ansi.has_value());
  EXPECT_FALSE(ansi->decided);
  EXPECT_EQ(ansi->variant, 32);
  EXPECT_NE(formatScanReportJson(*ansi).find("\"decision\": null"), std::string::npos);
  EXPECT_FALSE(runScanReport("/nonexistent/file.ost", {}).has_value());
}

}  // namespace
}  // namespace vexl::testing
