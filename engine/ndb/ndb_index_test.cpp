// The index rebuild on hand-built files: which version of a block or node
// wins (B-tree rank, signature, zero and offset tie-breaks), exact copies,
// children, tree roots, keys with tens of thousands of versions; and the
// fixed-bucket maps underneath.
#include <gtest/gtest.h>

#include "engine/ndb/ndb_crypto.h"
#include "engine/ndb/test_ndb_file.h"

namespace vexl::testing {
namespace {

constexpr std::uint64_t kBid = 0x104;

TEST(VersionMapTest, ColllidingKeysKeepFirstSeenOrderAndLastVersionWins) {
  BlockIndex index;
  // 0x104 and 0x104 + 16 * buckets share a bucket; bit 0 is ignored.
  const std::uint64_t other = kBid + 16ull * index.bucketCount();
  BlockEntry a, b, c;
  a.offset = 1, b.offset = 2, c.offset = 3;
  index.append(other, a);
  index.append(kBid | 1, a);
  index.append(kBid, b);
  index.append(kBid, c);
  ASSERT_EQ(index.keyCount(), 2u);
  EXPECT_EQ(index.lists()[0].key, other);
  EXPECT_EQ(index.find(kBid)->offset, 3u);
  index.versions(kBid)->pop_back();
  EXPECT_EQ(index.find(kBid | 1)->offset, 2u);
  index.versions(other)->clear();
  EXPECT_EQ(index.find(other), nullptr);  // an empty list counts as absent
  EXPECT_NE(index.versions(other), nullptr);
  BlockIndex copy = index;
  EXPECT_TRUE(copy == index);
  EXPECT_EQ(copy.find(kBid)->offset, 2u);
}

TEST(BidSetTest, EraseAndReinsertThroughOneBucket) {
  BidSet set(17);
  for (std::uint64_t k = 0; k < 40; ++k) set.insert(k << 8);  // many per bucket
  EXPECT_FALSE(set.insert(0x500));
  EXPECT_TRUE(set.erase(0x500));
  EXPECT_FALSE(set.erase(0x500));
  EXPECT_FALSE(set.contains(0x500));
  EXPECT_TRUE(set.contains(0x600));
  EXPECT_TRUE(set.insert(0x500));
  EXPECT_EQ(set.size(), 40u);
  EXPECT_EQ(set.keys().size(), 40u);
}

// Two versions of kBid at 0x1000 and 0x3000 (payload bytes chosen by the
// caller), optionally a HEADER whose BBT root names the one at `referenced`.
struct TwoVersions {
  explicit TwoVersions(const NdbLayout& layout) : t(layout) { t.image.ensure(0x8000); }
  TreeBuilder t;
  void put(std::uint64_t offset, const std::vector<unsigned char>& payload, bool ownSig = true) {
    t.block(offset, kBid, payload, ownSig ? ndbcrypt::signature(offset, kBid) : 0x1234);
  }
  void referenceFromRoot(std::uint64_t offset, std::uint16_t cb) {
    t.bbtLeaf(0x5000, 0x200, {{kBid, offset, cb}});
    t.header({}, {0x200, 0x5000});
  }
};

const BlockEntry& winner(ScannedFile& f) { return *f.format().blockIndex().find(kBid); }

TEST(BlockRanking, ReachableVersionWinsWhateverTheFileOrder) {
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    for (std::uint64_t referenced : {0x1000u, 0x3000u}) {
      TwoVersions v(*layout);
      v.put(0x1000, noisePayload(100, 1));
      v.put(0x3000, noisePayload(100, 2));
      v.referenceFromRoot(referenced, 100);
      ScannedFile f(*layout, v.t.image.bytes);
      const auto& list = *f.format().blockIndex().versions(kBid);
      ASSERT_EQ(list.size(), 2u);
      EXPECT_EQ(list.back().offset, referenced);
      EXPECT_EQ(list.back().treeRank, 1);  // root leaf at level 0
      EXPECT_EQ(list.front().treeRank, -1);
    }
  }
}

TEST(BlockRanking, ReferenceMustFitSignatureAndSize) {
  // The BBT entry names the version at 0x1000 but with another cb: no rank.
  TwoVersions v(kAnsiLayout);
  v.put(0x1000, noisePayload(100, 1));
  v.put(0x3000, noisePayload(100, 2));
  v.referenceFromRoot(0x1000, 101);
  ScannedFile f(kAnsiLayout, v.t.image.bytes);
  EXPECT_EQ(winner(f).offset, 0x3000u);
  EXPECT_EQ(winner(f).treeRank, -1);
}

TEST(BlockRanking, UnreferencedTieBreaks) {
  {  // the signature fitting its own offset wins over a higher offset
    TwoVersions v(kAnsiLayout);
    v.put(0x1000, noisePayload(100, 1));
    v.put(0x3000, noisePayload(100, 2), false);
    ScannedFile f(kAnsiLayout, v.t.image.bytes);
    EXPECT_EQ(winner(f).offset, 0x1000u);
  }
  {  // both fit: a non-zero block beats a zero block
    TwoVersions v(kUnicodeLayout);
    v.put(0x1000, noisePayload(100, 1));
    v.put(0x3000, std::vector<unsigned char>(100, 0));
    ScannedFile f(kUnicodeLayout, v.t.image.bytes, /*ignoreZero=*/false);
    ASSERT_EQ(f.format().blockIndex().versions(kBid)->size(), 2u);
    EXPECT_EQ(winner(f).offset, 0x1000u);
    EXPECT_FALSE(winner(f).zero);
  }
  {  // neither fits, both non-zero: the higher offset
    TwoVersions v(kAnsiLayout);
    v.put(0x1000, noisePayload(100, 1), false);
    v.put(0x3000, noisePayload(100, 2), false);
    ScannedFile f(kAnsiLayout, v.t.image.bytes);
    EXPECT_EQ(winner(f).offset, 0x3000u);
  }
}

TEST(BlockRanking, ExactCopiesMergeIntoTheOneSortingLast) {
  TwoVersions v(kAnsiLayout);
  const auto payload = noisePayload(300, 7);
  v.put(0x1000, payload);
  v.put(0x3000, payload);
  v.put(0x6000, noisePayload(300, 8), false);  // a different version stays
  ScannedFile f(kAnsiLayout, v.t.image.bytes);
  const auto& list = *f.format().blockIndex().versions(kBid);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].offset, 0x6000u);
  EXPECT_EQ(list[1].offset, 0x3000u);
}

TEST(BlockRanking, NoHeaderRanksByOrphanPagesAndAnOrphanTreePassesItsTopLevelDown) {
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    TwoVersions v(*layout);
    v.put(0x1000, noisePayload(100, 1));
    v.put(0x3000, noisePayload(100, 2));
    v.t.block(0x3400, kBid + 4, noisePayload(60, 3));  // kBid + 4 twice
    v.t.block(0x3800, kBid + 4, noisePayload(60, 4));
    // Orphan leaf naming 0x1000; orphan level-1 page above a leaf naming
    // kBid + 4 at 0x3400.
    v.t.bbtLeaf(0x5000, 0x200, {{kBid, 0x1000, 100}});
    v.t.bbtLeaf(0x5200, 0x204, {{kBid + 4, 0x3400, 60}});
    v.t.btPage(0x5400, kPageTypeBbt, 1, 0x208, {{0x204, 0x5200}});
    ScannedFile f(*layout, v.t.image.bytes);
    EXPECT_FALSE(f.format().rootBbt().has_value());
    EXPECT_EQ(winner(f).offset, 0x1000u);
    EXPECT_EQ(winner(f).treeRank, 0);
    const BlockEntry* second = f.format().blockIndex().find(kBid + 4);
    EXPECT_EQ(second->offset, 0x3400u);
    EXPECT_EQ(second->treeRank, 1);
  }
}

TEST(BlockRanking, RootPageFoundAtItsLevelWithAMatchingSignatureOnly) {
  // Two pages with the root's BID: one at the BREF's ib (matching wSig),
  // one elsewhere whose wSig does not fit the BREF. Only the first counts.
  TwoVersions v(kUnicodeLayout);
  v.put(0x1000, noisePayload(100, 1));
  v.put(0x3000, noisePayload(100, 2));
  v.t.bbtLeaf(0x5000, 0x200, {{kBid, 0x1000, 100}});
  v.t.btPage(0x5400, kPageTypeBbt, 1, 0x20C, {{0x200, 0x5000}});
  v.t.bbtLeaf(0x5800, 0x20C, {{kBid, 0x3000, 100}});  // same BID as the root, level 0, wrong sig
  v.t.header({}, {0x20C, 0x5400});
  ScannedFile f(kUnicodeLayout, v.t.image.bytes);
  EXPECT_EQ(winner(f).offset, 0x1000u);
  EXPECT_EQ(winner(f).treeRank, 2);  // root at level 1
}

// Nodes.

TEST(NodeRanking, ReachableVersionWinsEvenWithoutItsDataBlock) {
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    for (bool orphanFirst : {true, false}) {
      TreeBuilder t(*layout);
      t.image.ensure(0x8000);
      t.block(0x1000, kBid, noisePayload(100, 1));
      const std::uint64_t reachable = orphanFirst ? 0x7000 : 0x6000;
      const std::uint64_t orphan = orphanFirst ? 0x6000 : 0x7000;
      t.nbtLeaf(reachable, 0x300, {{0x21, 0x999C, 0, 0x21}});
      t.nbtLeaf(orphan, 0x304, {{0x21, kBid, 0, 0x21}});
      t.header({0x300, reachable}, {});
      ScannedFile f(*layout, t.image.bytes);
      const auto& list = *f.format().nodeIndex().versions(0x21);
      ASSERT_EQ(list.size(), 2u);
      EXPECT_EQ(list.back().dataBid, 0x999Cu);
      EXPECT_EQ(list.back().entryPosition, reachable);
      EXPECT_EQ(list.back().treeRank, 1);
      EXPECT_EQ(f.count(), 1u + 1u);  // one BID, one NID
    }
  }
}

TEST(NodeRanking, OrphanTieBreaksDataThenSubnodeThenPosition) {
  TreeBuilder t(kUnicodeLayout);
  t.image.ensure(0x8000);
  t.block(0x1000, kBid, noisePayload(100, 1));
  t.block(0x1400, 0x10A, t.slblock({}));
  // NID 0x41: data present (0x6000) vs absent (0x7000).
  // NID 0x42: both data present; subnode present (0x6000) vs absent.
  // NID 0x43: identical fields but parent: both present; higher position.
  const std::uint64_t p0 = 0x6000, p1 = 0x7000;
  t.nbtLeaf(p0, 0x300, {{0x41, kBid, 0, 0x21}, {0x42, kBid, 0x10A, 0x21}, {0x43, kBid, 0, 0x22}});
  t.nbtLeaf(p1, 0x304, {{0x41, 0x888, 0, 0x21}, {0x42, kBid, 0x777A, 0x21}, {0x43, kBid, 0, 0x23}});
  ScannedFile f(kUnicodeLayout, t.image.bytes);
  const NodeMap& nodes = f.format().nodeIndex();
  EXPECT_EQ(nodes.find(0x41)->entryPosition, p0);
  EXPECT_EQ(nodes.find(0x42)->entryPosition, p0 + 32);
  EXPECT_EQ(nodes.find(0x43)->entryPosition, p1 + 64);
  EXPECT_EQ(nodes.find(0x43)->treeRank, 0);
}

TEST(NodeRanking, EqualVersionsMergeAndChildrenAreLinked) {
  TreeBuilder t(kAnsiLayout);
  t.image.ensure(0x8000);
  // The same entries in two leaf pages (an old copy): one version each.
  const std::vector<NbtEntry> entries{{0x122, 0, 0, 0x122}, {0x8022, 0, 0, 0x122}, {0x8042, 0, 0, 0x122},
                                      {0x200024, 0, 0, 0x8022}, {0x300024, 0, 0, 0x999}};
  t.nbtLeaf(0x6000, 0x300, entries);
  t.nbtLeaf(0x7000, 0x300, entries);
  ScannedFile f(kAnsiLayout, t.image.bytes);
  const NodeMap& nodes = f.format().nodeIndex();
  ASSERT_EQ(nodes.keyCount(), 5u);
  for (const auto& list : nodes.lists()) EXPECT_EQ(list.versions.size(), 1u) << list.key;
  EXPECT_EQ(nodes.find(0x122)->entryPosition, 0x7000u);
  // The root folder lists itself; an absent parent links nothing.
  EXPECT_EQ(nodes.find(0x122)->childNids, (std::vector<std::uint32_t>{0x122, 0x8022, 0x8042}));
  EXPECT_EQ(nodes.find(0x8022)->childNids, (std::vector<std::uint32_t>{0x200024}));
  EXPECT_TRUE(nodes.find(0x300024)->childNids.empty());
}

// A hostile file: tens of thousands of versions of one BID and of one NID,
// named by thousands of entries. Ranking and merging stay right, and take
// time in proportion to the file (the pairwise comparison this replaced took
// 14 times as long here, growing with the square of the versions).
TEST(HostileVersions, ManyVersionsOfOneKeyRankAndMergeInOnePass) {
  const NdbLayout& L = kUnicodeLayout;
  TreeBuilder t(L);
  const std::uint32_t cb = 64 - L.trailerSize;
  const std::uint32_t copies = 10000, distinct = 20000, pages = 1000;
  const auto copy = noisePayload(cb, 1);
  std::uint64_t at = 0x1000;
  for (std::uint32_t i = 0; i < copies + distinct; ++i, at += 64)
    t.block(at, kBid, i < copies ? copy : noisePayload(cb, 100 + i), ndbcrypt::signature(at, kBid));
  const std::uint64_t referenced = 0x1000 + 64 * (copies + distinct / 2);
  const std::vector<BbtEntry> names(20, BbtEntry{kBid, referenced, static_cast<std::uint16_t>(cb)});
  // Every NBT leaf lists 15 versions of one NID; each page appears twice.
  std::vector<NbtEntry> nodes;
  std::uint64_t nextData = 0x10000;
  for (std::uint32_t p = 0; p < pages; ++p, at += 2 * L.pageSize) {
    t.bbtLeaf(at, 0x100000 + p * 4, names);
    nodes.clear();
    for (int i = 0; i < 15; ++i, nextData += 4) nodes.push_back({0x200024, nextData, 0, 0x8022});
    t.nbtLeaf(at + L.pageSize, 0x200000 + p * 4, nodes);
    t.nbtLeaf(at + 2 * L.pageSize, 0x200000 + p * 4, nodes);
    at += L.pageSize;
  }
  ScannedFile f(L, t.image.bytes);
  const auto& blocks = *f.format().blockIndex().versions(kBid);
  EXPECT_EQ(blocks.size(), distinct + 1u);  // the copies merged into one
  EXPECT_EQ(blocks.back().offset, referenced);
  EXPECT_EQ(blocks.back().treeRank, 0);  // named by orphan leaves
  const auto& versions = *f.format().nodeIndex().versions(0x200024);
  EXPECT_EQ(versions.size(), pages * 15u);  // each entry once
  EXPECT_EQ(versions.back().dataBid, nextData - 4);
}

TEST(NodeRanking, FileWithoutAnyPagesOrHeaderStillBuildsTheBlockIndex) {
  TreeBuilder t(kAnsiLayout);
  t.image.ensure(0x2000);
  t.block(0x100, kBid, noisePayload(50, 1));
  ScannedFile f(kAnsiLayout, t.image.bytes);
  EXPECT_EQ(f.count(), 1u);
  EXPECT_TRUE(f.format().nodeIndex().empty());
}

// Tree roots.

TEST(TreeRoots, DataTreeRootsAreBlocksNoXblockNames) {
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    TreeBuilder t(*layout);
    t.image.ensure(0x10000);
    t.block(0x1000, 0x104, noisePayload(200, 1));
    t.block(0x1400, 0x108, noisePayload(200, 2));
    t.block(0x1800, 0x10C, noisePayload(200, 3));  // a lone data block
    t.block(0x2000, 0x112, t.xblock(1, 400, {0x104, 0x109}));  // bit 0 of a child is ignored
    t.block(0x2400, 0x116, t.xblock(1, 200, {0x10C}));
    t.block(0x2800, 0x11A, t.xblock(2, 200, {0x116}));  // an XXBLOCK above the second
    t.block(0x2C00, 0x11E, t.slblock({{0x21, 0x104, 0x122}}));
    t.block(0x3000, 0x122, t.slblock({}));
    t.block(0x3400, 0x126, t.siblock({{0x21, 0x11E}}));
    t.block(0x3800, 0x12A, t.slblock({}));  // a lone SLBLOCK
    ScannedFile f(*layout, t.image.bytes);
    NdbFormat& format = f.format();
    EXPECT_EQ(format.collectDataTreeRoots(), 2u);
    EXPECT_TRUE(format.dataTreeRoots().contains(0x112));
    EXPECT_TRUE(format.dataTreeRoots().contains(0x11A));
    EXPECT_EQ(format.collectSubnodeTreeRoots(), 2u);
    EXPECT_TRUE(format.subnodeTreeRoots().contains(0x126));
    EXPECT_TRUE(format.subnodeTreeRoots().contains(0x12A));
  }
}

}  // namespace
}  // namespace vexl::testing
