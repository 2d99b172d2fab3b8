// Heap items, heap kind and the BTH walk on hand-built heaps, including
// page maps that lie and BTHs with an index level.
#include <gtest/gtest.h>

#include "engine/ltp/bth.h"
#include "engine/ltp/test_heap_builder.h"

namespace vexl::testing {
namespace {

using Records = std::vector<std::pair<Bytes, Bytes>>;

Records walk(const NdbNode& node, int* result = nullptr) {
  Records out;
  const int r = walkBthWith(node, [&](std::uint8_t, const unsigned char* key, std::uint8_t cbKey,
                                      const unsigned char* data, std::uint8_t cbEnt) {
    out.emplace_back(Bytes(key, key + cbKey), Bytes(data, data + cbEnt));
  });
  if (result != nullptr) *result = r;
  return out;
}

TEST(HeapOnNode, ItemsAcrossBlocksAndEmptyItems) {
  HeapBuilder heap(kHeapSigPropertyContext);
  const std::uint32_t a = heap.add({1, 2, 3});
  const std::uint32_t empty = heap.add({});
  const std::uint32_t b = heap.add({9, 8}, 1);
  heap.userRoot = a;
  NodeFile f(heap.build());
  Bytes out{7};
  EXPECT_EQ(readHeapItem(f.node(), a, out), 1);
  EXPECT_EQ(out, (Bytes{1, 2, 3}));
  EXPECT_EQ(readHeapItem(f.node(), empty, out), 1);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(readHeapItem(f.node(), b, out), 1);
  EXPECT_EQ(out, (Bytes{9, 8}));
  // Block 2 of a two-block heap, hidIndex 0, an index far past the page map.
  EXPECT_EQ(readHeapItem(f.node(), (2u << 16) | (1u << 5), out), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(readHeapItem(f.node(), 0, out), 0);
  EXPECT_EQ(readHeapItem(f.node(), 0x7FFu << 5, out), 0);
  EXPECT_EQ(heapKind(f.node()), HeapKind::PropertyContext);
}

TEST(HeapOnNode, PageMapsThatLieGiveNothing) {
  HeapBuilder heap(kHeapSigTable);
  const std::uint32_t a = heap.add({1, 2, 3, 4});
  heap.add({5, 6});
  auto blocks = heap.build();
  Bytes& b = blocks[0];
  const std::size_t map = b[0] | (b[1] << 8);
  // Allocation 2 ends before it starts; allocation 1 ends past the block.
  b[map + 6] = 14;
  b[map + 7] = 0;
  b[map + 8] = 13;
  b[map + 9] = 0;
  NodeFile backwards(blocks);
  Bytes out;
  EXPECT_EQ(readHeapItem(backwards.node(), a, out), 1);  // 12..14
  EXPECT_EQ(readHeapItem(backwards.node(), a + (1u << 5), out), 0);
  b[map + 6] = 0xFF;
  b[map + 7] = 0x7F;
  NodeFile past(blocks);
  EXPECT_EQ(readHeapItem(past.node(), a, out), 0);
  EXPECT_EQ(heapKind(past.node()), HeapKind::Table);
}

TEST(HeapOnNode, KindAndWalkNeedAHeapOfOurs) {
  HeapBuilder other(0x6C);
  addPcBth(other, {{0x3001, 0x1F, 0}});
  NodeFile f(other.build());
  EXPECT_EQ(heapKind(f.node()), HeapKind::Other);
  int r = -1;
  EXPECT_TRUE(walk(f.node(), &r).empty());
  EXPECT_EQ(r, 0);
  // No data at all.
  NodeFile none(std::vector<Bytes>{});
  EXPECT_EQ(heapKind(none.node()), HeapKind::Other);
  EXPECT_TRUE(walk(none.node(), &r).empty());
  EXPECT_EQ(r, 0);
}

TEST(Bth, LeafAndOneIndexLevelVisitEveryRecordInOrder) {
  std::vector<PcRecord> records;
  for (std::uint16_t i = 0; i < 10; ++i) records.push_back({static_cast<std::uint16_t>(0x3000 + i), 3, i * 7u});
  for (std::size_t perLeaf : {std::size_t{0}, std::size_t{3}}) {
    HeapBuilder heap(kHeapSigPropertyContext);
    addPcBth(heap, records, perLeaf);
    NodeFile f(heap.build());
    int r = 0;
    const Records seen = walk(f.node(), &r);
    EXPECT_EQ(r, 1);
    ASSERT_EQ(seen.size(), records.size()) << perLeaf;
    for (std::size_t i = 0; i < seen.size(); ++i) {
      EXPECT_EQ(seen[i].first, le16(records[i].id));
      EXPECT_EQ(seen[i].second, le16(3) + le32(records[i].hnid));
    }
  }
}

TEST(Bth, DamagedHeadersAndRoots) {
  // An empty leaf: the walk succeeds and visits nothing.
  HeapBuilder empty(kHeapSigPropertyContext);
  addPcBth(empty, {});
  NodeFile e(empty.build());
  int r = 0;
  EXPECT_TRUE(walk(e.node(), &r).empty());
  EXPECT_EQ(r, 1);
  // hidRoot naming nothing: still 1, nothing visited.
  HeapBuilder dangling(kHeapSigPropertyContext);
  dangling.userRoot = dangling.add(Bytes{0xB5, 2, 6, 0} + le32(0x7E0));
  NodeFile d(dangling.build());
  EXPECT_TRUE(walk(d.node(), &r).empty());
  EXPECT_EQ(r, 1);
  // A BTHHEADER of 7 bytes, and a zero user root.
  HeapBuilder shortHeader(kHeapSigPropertyContext);
  shortHeader.userRoot = shortHeader.add(Bytes{0xB5, 2, 6, 0, 0, 0, 0});
  NodeFile s(shortHeader.build());
  walk(s.node(), &r);
  EXPECT_EQ(r, 0);
  HeapBuilder noRoot(kHeapSigPropertyContext);
  noRoot.add(Bytes{0xB5, 2, 6, 0} + le32(0));
  NodeFile n(noRoot.build());
  walk(n.node(), &r);
  EXPECT_EQ(r, 0);
  // Record size 0 visits nothing; trailing bytes of a leaf are ignored.
  HeapBuilder zero(kHeapSigPropertyContext);
  const std::uint32_t leaf = zero.add(Bytes(20, 1));
  zero.userRoot = zero.add(Bytes{0xB5, 0, 0, 0} + le32(leaf));
  NodeFile z(zero.build());
  EXPECT_TRUE(walk(z.node(), &r).empty());
  EXPECT_EQ(r, 1);
  HeapBuilder odd(kHeapSigPropertyContext);
  const std::uint32_t oddLeaf = odd.add(Bytes(15, 2));
  odd.userRoot = odd.add(Bytes{0xB5, 2, 5, 0} + le32(oddLeaf));
  NodeFile o(odd.build());
  EXPECT_EQ(walk(o.node()).size(), 2u);
}

TEST(Bth, TableRowIndexThroughTheTcInfo) {
  HeapBuilder heap(kHeapSigTable);
  const std::uint32_t leaf = heap.add(le32(0x21) + le32(0) + le32(0x42) + le32(1));
  const std::uint32_t rowIndex = heap.add(Bytes{0xB5, 4, 4, 0} + le32(leaf));
  Bytes info = Bytes{0x7C, 2, 0, 0, 0, 0, 0, 0, 0, 0} + le32(rowIndex) + le32(0) + le32(0) + Bytes(16, 0);
  heap.userRoot = heap.add(info);
  NodeFile f(heap.build());
  const Records seen = walk(f.node());
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].first, le32(0x42));
  // The same with a TCINFO of 37 bytes: refused.
  info.pop_back();
  HeapBuilder shorter(kHeapSigTable);
  const std::uint32_t leaf2 = shorter.add(le32(0x21) + le32(0));
  const std::uint32_t rowIndex2 = shorter.add(Bytes{0xB5, 4, 4, 0} + le32(leaf2));
  std::copy_n(le32(rowIndex2).begin(), 4, info.begin() + 10);
  shorter.userRoot = shorter.add(info);
  NodeFile g(shorter.build());
  int r = 1;
  EXPECT_TRUE(walk(g.node(), &r).empty());
  EXPECT_EQ(r, 0);
}

// The decoded-block cache under readHeapItem: the bytes are those of the
// block read afresh, whatever was read before, and each block of a heap is
// read and decoded once while the heap's items are taken.
class HeapBlockCache : public ::testing::Test {
 protected:
  // `blocks` blocks of two items each, item k of block b filled with
  // 16 * b + k and (b + 2 * k + 1) bytes long.
  static HeapBuilder heapOf(std::uint16_t blocks, std::vector<std::uint32_t>& hids) {
    HeapBuilder heap(kHeapSigPropertyContext);
    for (std::uint16_t b = 0; b < blocks; ++b)
      for (unsigned k = 0; k < 2; ++k) hids.push_back(heap.add(itemBytes(b, k), b));
    heap.userRoot = hids[0];
    return heap;
  }
  static Bytes itemBytes(std::uint32_t block, std::uint32_t k) {
    return Bytes(block + 2 * k + 1, static_cast<unsigned char>(16 * block + k));
  }
  static Bytes item(const NdbNode& node, std::uint32_t hid) {
    Bytes out;
    EXPECT_EQ(readHeapItem(node, hid, out), 1) << std::hex << hid;
    return out;
  }
};

TEST_F(HeapBlockCache, ItemsInTheSameAndOtherBlocksEachBlockReadOnce) {
  std::vector<std::uint32_t> hids;
  NodeFile f(heapOf(3, hids).build());
  const DecodedBlockCache& cache = f.node().format->decodedBlocks();
  const std::uint64_t before = cache.misses();
  // Back and forth between the blocks, twice over.
  for (int round = 0; round < 2; ++round)
    for (std::size_t i : {0, 2, 4, 1, 3, 5, 4, 0}) EXPECT_EQ(item(f.node(), hids[i]), itemBytes(hids[i] >> 16, i % 2));
  EXPECT_EQ(cache.misses() - before, 3u);
  EXPECT_EQ(heapKind(f.node()), HeapKind::PropertyContext);
  EXPECT_EQ(cache.misses() - before, 3u);
}

TEST_F(HeapBlockCache, AHeapOfMoreBlocksThanTheCacheHoldsReadsRightAndStaysBounded) {
  std::vector<std::uint32_t> hids;
  const auto blocks = static_cast<std::uint16_t>(kDecodedBlockCacheBlocks + 5);
  NodeFile f(heapOf(blocks, hids).build());
  const DecodedBlockCache& cache = f.node().format->decodedBlocks();
  for (int round = 0; round < 2; ++round) {
    for (std::size_t i = 0; i < hids.size(); ++i) {
      const std::size_t at = round == 0 ? i : hids.size() - 1 - i;
      EXPECT_EQ(item(f.node(), hids[at]), itemBytes(hids[at] >> 16, at % 2));
      EXPECT_LE(cache.size(), cache.capacity());
    }
  }
  EXPECT_EQ(cache.size(), cache.capacity());
}

TEST_F(HeapBlockCache, CachedBlocksAreReadBlocksUnderEveryCryptMode) {
  std::vector<std::uint32_t> hids;
  NodeFile f(heapOf(2, hids).build());
  // The same blocks read as if enciphered: their own decoding each, not
  // the plain bytes the first node left in the cache.
  for (CryptMode mode : {CryptMode::None, CryptMode::Permute, CryptMode::Cyclic, CryptMode::None}) {
    NdbNode node = f.node();
    node.cryptMode = mode;
    for (std::uint32_t b = 0; b < 2; ++b) {
      Bytes plain;
      ASSERT_EQ(node.readBlock(b, plain), 1);
      const auto cached = node.readCachedBlock(b);
      ASSERT_NE(cached, nullptr);
      EXPECT_EQ(*cached, plain) << static_cast<int>(mode) << " block " << b;
    }
  }
}

TEST_F(HeapBlockCache, AnUnreadableBlockIsNotRemembered) {
  std::vector<std::uint32_t> hids;
  NodeFile f(heapOf(2, hids).build());
  NdbFormat& format = *f.node().format;
  EXPECT_EQ(item(f.node(), hids[0]), itemBytes(0, 0));
  // Block 1 now lies past the end of the file: a short read, every time.
  BlockEntry* e = format.findDataBlock(f.node().dataBid, 1);
  ASSERT_NE(e, nullptr);
  const std::uint64_t offset = e->offset;
  e->offset = std::uint64_t{1} << 40;
  Bytes out{1};
  for (int i = 0; i < 2; ++i) {
    const std::uint64_t before = format.decodedBlocks().misses();
    EXPECT_EQ(readHeapItem(f.node(), hids[2], out), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(format.decodedBlocks().misses(), before + 1);
  }
  EXPECT_EQ(f.node().readCachedBlock(1), nullptr);
  EXPECT_EQ(item(f.node(), hids[1]), itemBytes(0, 1));
  e->offset = offset;
  EXPECT_EQ(item(f.node(), hids[3]), itemBytes(1, 1));
  // A block the data tree names but the file does not hold.
  HeapBuilder heap(kHeapSigPropertyContext);
  heap.userRoot = heap.add({1, 2});
  const std::uint32_t lost = heap.add({3}, 1);
  auto blocks = heap.build();
  blocks[1].clear();
  NodeFile gap(blocks);
  EXPECT_EQ(item(gap.node(), heap.userRoot), (Bytes{1, 2}));
  EXPECT_EQ(readHeapItem(gap.node(), lost, out), 0);
  EXPECT_EQ(gap.node().readCachedBlock(1), nullptr);
}

TEST_F(HeapBlockCache, ABidResolvedToAnotherVersionReadsThatVersion) {
  // Two one-block heaps of the same size side by side; the node is the
  // first block alone.
  HeapBuilder first(kHeapSigPropertyContext), second(kHeapSigPropertyContext);
  first.userRoot = first.add({0xA1, 0xA2, 0xA3});
  second.userRoot = second.add({0xB1, 0xB2, 0xB3});
  NodeFile f({first.build()[0], second.build()[0]});
  NdbFormat& format = *f.node().format;
  const BlockEntry* a = format.findDataBlock(f.node().dataBid, 0);
  const BlockEntry* b = format.findDataBlock(f.node().dataBid, 1);
  ASSERT_TRUE(a != nullptr && b != nullptr);
  NdbNode node(&format, 0x200042, a->bid, 0, 0, 0);
  node.open(CryptMode::Unknown);
  EXPECT_EQ(item(node, first.userRoot), (Bytes{0xA1, 0xA2, 0xA3}));
  // As the pass over older block versions does: an older version of the
  // BID elsewhere in the file, then the newer one removed.
  BlockEntry older = *b;
  older.bid = a->bid;
  std::vector<BlockEntry>& versions = *format.blockIndex().versions(a->bid);
  versions.insert(versions.begin(), older);
  EXPECT_EQ(item(node, first.userRoot), (Bytes{0xA1, 0xA2, 0xA3}));
  versions.pop_back();
  ASSERT_EQ(format.findDataBlock(node.dataBid, 0)->cb, older.cb);
  EXPECT_EQ(item(node, first.userRoot), (Bytes{0xB1, 0xB2, 0xB3}));
}

}  // namespace
}  // namespace vexl::testing
