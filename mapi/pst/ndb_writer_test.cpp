#include "mapi/pst/ndb_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <fstream>

#include "mapi/pst/pst_error.h"
#include "mapi/pst/test_pst_reader.h"
#include "mapi/pst/test_validators.h"

namespace vexl::pst {
namespace {

using test::PstReader;

std::string problemsOf(const PstReader& r) {
  std::string out;
  for (const auto& p : r.problems()) out += p + "\n";
  return out;
}

std::vector<std::uint8_t> pattern(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return v;
}

class NdbWriterTest : public ::testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    dir_ = test::makeTempDir("ndb-writer");
    path_ = dir_ + "/out.pst";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::unique_ptr<NdbWriter> open(CryptMethod crypt = CryptMethod::Permute, std::uint64_t max = 0) {
    return NdbWriter::create(path_, {GetParam(), crypt, max});
  }
  PstReader readBack(bool full = true) {
    PstReader r(path_);
    if (full) r.checkAllocationAndRefs();
    EXPECT_TRUE(r.problems().empty()) << problemsOf(r);
    return r;
  }
  std::string dir_, path_;
};

TEST_P(NdbWriterTest, EmptyFileHasValidHeaderMapsAndTrees) {
  auto w = open(CryptMethod::Cyclic);
  PstReader r = readBack();
  EXPECT_EQ(r.variant(), GetParam());
  EXPECT_EQ(r.crypt(), CryptMethod::Cyclic);
  EXPECT_EQ(r.fileEof(), 0x4400u + AllocationMap::kIntervalSize);
  EXPECT_EQ(std::filesystem::file_size(path_), r.fileEof());
  EXPECT_TRUE(r.nodes().empty());
  EXPECT_EQ(r.rgnid(NidType::NormalFolder), 0x400u);
  EXPECT_EQ(r.rgnid(NidType::NormalMessage), 0x10000u);
  EXPECT_EQ(w->allocateNid(NidType::NormalFolder), 0x8022u);  // the first folder Outlook allocates
  w->commit();
  EXPECT_EQ(readBack().rgnid(NidType::NormalFolder), 0x401u);
}

TEST_P(NdbWriterTest, DeepTreesSurviveInsertsAndDeletes) {
  auto w = open();
  const Bid shared = w->writeData(pattern(100, 1));
  // Enough nodes for an NBT of depth 3 in either variant; inserted out of
  // order so that splits happen in the middle of pages too.
  std::vector<Nid> nids;
  for (std::uint32_t i = 0; i < 3000; ++i) nids.push_back(makeNid(NidType::NormalMessage, 0x10000 + (i * 7919) % 3000));
  for (Nid nid : nids) w->createNode(nid, 0x122, nid % 3 == 0 ? shared : 0, 0);
  w->commit();
  {
    PstReader r = readBack();
    EXPECT_GE(r.nbtDepth(), 3);
    ASSERT_EQ(r.nodes().size(), nids.size());
    EXPECT_EQ(r.nodes().at(nids[5]).parent, 0x122u);
    EXPECT_EQ(r.blocks().at(shared).cRef, 1 + 1000);
  }
  for (std::size_t i = 0; i < nids.size(); i += 2) w->deleteNode(nids[i]);
  w->commit();
  PstReader r = readBack();
  EXPECT_EQ(r.nodes().size(), nids.size() / 2);
  EXPECT_EQ(r.nodes().count(nids[0]), 0u);
  EXPECT_EQ(r.nodes().count(nids[1]), 1u);
}

TEST_P(NdbWriterTest, DataTreesRoundTripAtEveryBoundary) {
  for (CryptMethod crypt : {CryptMethod::None, CryptMethod::Permute, CryptMethod::Cyclic}) {
    auto w = open(crypt);
    const std::size_t max = w->format().maxBlockPayload();
    const std::size_t xcap = w->format().xblockCapacity();
    const std::vector<std::size_t> sizes{1, 63, max, max + 1, 5 * max + 17, xcap * max, xcap * max + 1};
    std::vector<std::pair<Nid, std::vector<std::uint8_t>>> written;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      auto bytes = pattern(sizes[i], static_cast<std::uint32_t>(i));
      const Nid nid = makeNid(NidType::Internal, 0x400 + static_cast<std::uint32_t>(i));
      w->createNode(nid, 0, w->writeData(bytes), 0);
      written.emplace_back(nid, std::move(bytes));
    }
    w->commit();
    PstReader r = readBack();
    for (const auto& [nid, bytes] : written) {
      const Bid bid = r.nodes().at(nid).data;
      EXPECT_EQ(isInternalBid(bid), bytes.size() > max) << bytes.size();
      EXPECT_EQ(r.data(bid), bytes) << "size " << bytes.size();
    }
    // The writer reads its own trees back, before and after the commit.
    for (const auto& [nid, bytes] : written) {
      std::vector<std::uint8_t> joined;
      for (const auto& b : w->readDataBlocks(w->findNode(nid)->data)) joined.insert(joined.end(), b.begin(), b.end());
      EXPECT_EQ(joined, bytes);
    }
    // The largest needs an XXBLOCK: a data tree of two levels.
    const Bid top = r.nodes().at(written.back().first).data;
    EXPECT_EQ(r.block(top)[1], 2) << "cLevel of the root";
    // Data blocks are encoded as the HEADER says; internal blocks never.
    const auto& first = r.blocks().at(r.nodes().at(written.front().first).data);
    std::vector<std::uint8_t> raw(1);
    std::ifstream(path_, std::ios::binary).seekg(static_cast<std::streamoff>(first.ib)).read(reinterpret_cast<char*>(raw.data()), 1);
    EXPECT_EQ(raw[0] == written.front().second[0], crypt == CryptMethod::None);
    EXPECT_TRUE(r.problems().empty()) << problemsOf(r);
  }
}

TEST_P(NdbWriterTest, SubnodeTreesUseAnSiblockWhenOneSlblockIsFull) {
  auto w = open();
  const std::size_t count = w->format().slblockCapacity() * 2 + 3;
  std::vector<SubnodeRef> subs;
  for (std::size_t i = 0; i < count; ++i) {
    const Nid nid = makeNid(NidType::Ltp, static_cast<std::uint32_t>(count - i));  // given unsorted
    subs.push_back({nid, w->writeData(pattern(10 + i % 50, static_cast<std::uint32_t>(i))), 0});
  }
  const Bid sub = w->writeSubnodes(subs);
  w->createNode(0x21, 0, w->writeData(pattern(20, 9)), sub);
  w->commit();
  PstReader r = readBack();
  EXPECT_EQ(r.block(sub)[1], 1) << "SIBLOCK";
  const auto read = r.subnodes(sub);
  ASSERT_EQ(read.size(), count);
  const auto own = w->readSubnodes(sub);
  ASSERT_EQ(own.size(), count);
  EXPECT_TRUE(std::is_sorted(own.begin(), own.end(), [](const auto& a, const auto& b) { return a.nid < b.nid; }));
  EXPECT_EQ(own.front().data, read.begin()->second.data);
  for (std::size_t i = 0; i < count; ++i)
    EXPECT_EQ(r.data(read.at(subs[i].nid).data), pattern(10 + i % 50, static_cast<std::uint32_t>(i)));
}

TEST_P(NdbWriterTest, ReplacedAndDeletedNodesFreeTheirBlocksAfterTheCommit) {
  auto w = open();
  NodeContent content;
  content.blocks = {pattern(3000, 1)};
  content.subnodes.push_back({makeNid(NidType::Ltp, 1), {{pattern(8000, 2), pattern(8000, 3), pattern(4000, 4)}, {}}});
  w->createNode(0x21, 0, content);
  w->createNode(0x61, 0, w->findNode(0x21)->data, 0);  // shares the data block
  w->commit();
  const std::size_t before = readBack().blocks().size();
  w->replaceNode(0x21, 0, NodeContent{{pattern(100, 3)}, {}});
  w->commit();
  {
    PstReader r = readBack();
    // The old data block stays (0x61 still uses it); the old SLBLOCK and
    // the XBLOCK with its three data blocks are gone; one new block came.
    EXPECT_EQ(r.blocks().size(), before - 5 + 1);
    EXPECT_EQ(r.data(r.nodes().at(0x61).data), pattern(3000, 1));
  }
  w->deleteNode(0x61);
  w->deleteNode(0x21);
  EXPECT_THROW(w->deleteNode(0x21), PstError);
  w->commit();
  PstReader r = readBack();
  EXPECT_TRUE(r.blocks().empty());
}

TEST_P(NdbWriterTest, NodesSavedAgainLeaveNoStrayBlocksAndFullBbtPages) {
  // Every node written, then written again, as the recovery saves each
  // message twice: the first version's blocks are freed in runs between
  // the second version's. Nothing of the first versions may stay, and the
  // BBT's leaves must not be left half empty by the freed runs.
  auto w = open();
  constexpr std::uint32_t kNodes = 600;
  auto content = [](std::uint32_t i, std::uint32_t version) {
    NodeContent c;
    c.blocks = {pattern(200 + i % 300, i * 3 + version)};
    c.subnodes.push_back({makeNid(NidType::Ltp, 1), {{pattern(100, i + version)}, {}}});
    return c;
  };
  for (std::uint32_t i = 0; i < kNodes; ++i) {
    const Nid nid = makeNid(NidType::NormalMessage, 0x10001 + i);
    w->createNode(nid, 0x122, content(i, 1));
    w->replaceNode(nid, 0x122, content(i, 2));
    if (i % 100 == 99) w->commit();
  }
  w->commit();
  PstReader r = readBack();
  EXPECT_EQ(r.unreferencedBlocks(), 0u);
  EXPECT_EQ(r.blocks().size(), 3 * kNodes);  // data block, SLBLOCK, subnode data block
  EXPECT_EQ(w->blockCount(), r.blocks().size());
  for (std::uint32_t i = 0; i < kNodes; i += 97)
    EXPECT_EQ(r.data(r.nodes().at(makeNid(NidType::NormalMessage, 0x10001 + i)).data), content(i, 2).blocks[0]);
  // At least three quarters full on average.
  const std::size_t capacity = formatFor(GetParam()).bbtLeafCapacity();
  EXPECT_LE(static_cast<std::size_t>(r.bbtLeaves()), (r.blocks().size() * 4 / 3 + capacity - 1) / capacity);
}

TEST_P(NdbWriterTest, UncommittedWritesLeaveTheCommittedStateIntact) {
  auto w = open();
  for (std::uint32_t i = 0; i < 200; ++i)
    w->createNode(makeNid(NidType::NormalMessage, 0x10001 + i), 0x122, w->writeData(pattern(700, i)), 0);
  w->commit();
  const auto committed = readBack().nodes();
  // A transaction that replaces, deletes and adds, then a "crash": the
  // file as it stands before commit() must still be the first commit.
  for (std::uint32_t i = 0; i < 200; i += 2) w->replaceNode(makeNid(NidType::NormalMessage, 0x10001 + i), 0x122, w->writeData(pattern(900, i + 7)), 0);
  for (std::uint32_t i = 1; i < 200; i += 4) w->deleteNode(makeNid(NidType::NormalMessage, 0x10001 + i));
  for (std::uint32_t i = 0; i < 300; ++i) w->writeData(pattern(2000, i));
  const std::string crash = dir_ + "/crash.pst";
  std::filesystem::copy_file(path_, crash);
  PstReader r(crash);
  r.checkAllocationAndRefs();
  EXPECT_TRUE(r.problems().empty()) << problemsOf(r);
  ASSERT_EQ(r.nodes().size(), committed.size());
  for (std::uint32_t i = 0; i < 200; ++i)
    EXPECT_EQ(r.data(r.nodes().at(makeNid(NidType::NormalMessage, 0x10001 + i)).data), pattern(700, i));
  w->commit();
  EXPECT_EQ(readBack().nodes().size(), 150u);
}

TEST_P(NdbWriterTest, FreedSpaceIsReusedOnceCommitted) {
  auto w = open();
  auto fill = [&](std::uint32_t seed) {
    for (std::uint32_t i = 0; i < 300; ++i)
      w->createNode(makeNid(NidType::NormalMessage, 0x10001 + i), 0, w->writeData(pattern(4000, seed + i)), 0);
    w->commit();
  };
  fill(0);
  for (std::uint32_t i = 0; i < 300; ++i) w->deleteNode(makeNid(NidType::NormalMessage, 0x10001 + i));
  w->commit();
  const std::uint64_t size = w->fileSize();
  fill(1000);
  EXPECT_LE(w->fileSize(), size + AllocationMap::kIntervalSize);
  readBack();
}

TEST_P(NdbWriterTest, SizeLimitIsRefusedVisiblyAndTheFileStaysValid) {
  const std::uint64_t limit = 0x4400 + 12 * AllocationMap::kIntervalSize;
  auto w = open(CryptMethod::Permute, limit);
  std::uint32_t written = 0;
  try {
    for (;; ++written) {
      w->createNode(makeNid(NidType::NormalMessage, 0x10001 + written), 0, w->writeData(pattern(6000, written)), 0);
      if (written % 20 == 0) w->commit();
    }
  } catch (const PstError& e) {
    EXPECT_EQ(e.code(), PstErrorCode::FileTooLarge);
  }
  EXPECT_GT(written, 10u);
  w->commit();  // what was added before the refusal still commits
  EXPECT_LE(std::filesystem::file_size(path_), limit);
  EXPECT_EQ(readBack().nodes().size(), written);
  if (GetParam() == Variant::Ansi) {
    auto big = NdbWriter::create(dir_ + "/b.pst", {Variant::Ansi, CryptMethod::None, 0});
    EXPECT_EQ(big->maxFileSize(), kAnsiMaxFileSize);
  }
}

TEST_P(NdbWriterTest, FilesPastThe128thIntervalCarryAnFMapPage) {
  auto w = open(CryptMethod::None);
  // 130 intervals of data in a streamed data tree of many XBLOCKs.
  DataTreeWriter tree(*w);
  const auto chunk = pattern(1 << 20, 5);
  for (int i = 0; i < 33; ++i) tree.append(chunk);
  w->createNode(0x21, 0, tree.finish(), 0);
  w->commit();
  PstReader r = readBack();  // checks every map page, the FMap included
  EXPECT_GT(r.fileEof(), AllocationMap::intervalStart(AllocationMap::kHeaderFMapCount));
  EXPECT_EQ(r.data(r.nodes().at(0x21).data).size(), 33u << 20);
}

INSTANTIATE_TEST_SUITE_P(Variants, NdbWriterTest, ::testing::Values(Variant::Unicode, Variant::Ansi),
                         [](const auto& info) { return info.param == Variant::Unicode ? "Unicode" : "Ansi"; });

TEST(AllocationMapTest, MapPagesFollowTheirIntervals) {
  // PMaps every 8 intervals, FMaps at 128 + 496k, FPMaps at 8192 + 31744k.
  EXPECT_EQ(AllocationMap::mapPagesOf(0).size(), 2u);
  EXPECT_EQ(AllocationMap::mapPagesOf(1).size(), 1u);
  EXPECT_EQ(AllocationMap::mapPagesOf(128).back().type, PageType::FMap);
  EXPECT_EQ(AllocationMap::mapPagesOf(128 + 496).back().ib, AllocationMap::intervalStart(624) + 1024);
  EXPECT_EQ(AllocationMap::mapPagesOf(129).size(), 1u);
  const auto fp = AllocationMap::mapPagesOf(8192);
  ASSERT_EQ(fp.size(), 3u);  // AMap, PMap, FPMap; no FMap at 8192
  EXPECT_EQ(fp.back().type, PageType::FPMap);
  EXPECT_EQ(fp.back().ib, AllocationMap::intervalStart(8192) + 1536);

  AllocationMap map;
  map.grow();
  const auto a = map.allocate(64, 64);
  const auto p = map.allocate(512, 512);
  ASSERT_TRUE(a && p);
  EXPECT_EQ(*a, 0x4800u);  // after the AMap and PMap pages
  EXPECT_EQ(*p % 512, 0u);
  EXPECT_GT(*p, *a);
  map.release(*a, 64);
  // The page left 0x4840-0x4A00 free; with the released unit it is the
  // smallest run, so the next small blocks fill it before the tail.
  EXPECT_EQ(map.allocate(64, 64), a);
  EXPECT_EQ(map.allocate(128, 64), Ib{0x4840});
  EXPECT_GT(*map.allocate(512, 64), *p);  // 320 bytes are left there: too few
  EXPECT_FALSE(map.allocate(300000, 64));
}

TEST(AllocationMapTest, FullIntervalsAnswerAsBeforeWithoutTheirBits) {
  // An interval whose every unit is taken keeps no bits; releasing a unit
  // in it brings them back with only that unit clear.
  AllocationMap map;
  map.grow();
  map.grow();
  std::vector<Ib> taken;
  while (auto ib = map.allocate(64, 64)) taken.push_back(*ib);
  for (std::size_t i = 0; i < map.intervalCount(); ++i) {
    EXPECT_EQ(map.longestFreeRun(i), 0);
    for (std::uint8_t b : map.amapBits(i)) ASSERT_EQ(b, 0xFF);
  }
  const Ib unit = AllocationMap::intervalStart(1) + 64 * 700;
  EXPECT_TRUE(map.isAllocated(unit));
  map.release(unit, 64);
  EXPECT_FALSE(map.isAllocated(unit));
  EXPECT_TRUE(map.isAllocated(unit + 64));
  EXPECT_EQ(map.longestFreeRun(1), 1);
  EXPECT_EQ(map.amapBits(1)[700 / 8], static_cast<std::uint8_t>(~(0x80u >> (700 % 8))));
  EXPECT_EQ(map.longestFreeRun(0), 0);
  EXPECT_EQ(map.freeBytes(), 64u);
  EXPECT_EQ(map.allocate(64, 64), unit);
  EXPECT_TRUE(map.isAllocated(unit));
  for (std::uint8_t b : map.amapBits(1)) ASSERT_EQ(b, 0xFF);
}

}  // namespace
}  // namespace vexl::pst
