// Node data assembly on hand-built files (data trees, holes, crypt
// detection, subnode trees, used marks), the bounds of every tree walk over
// hostile files, and the node index and node data of every shared sample
// against a strict walk of the B-trees from the HEADER.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "engine/ltp/ndb_node.h"
#include "engine/ltp/node_report.h"
#include "engine/ndb/ndb_checks.h"
#include "engine/ndb/ndb_crypto.h"
#include "engine/ndb/test_ndb_file.h"

namespace vexl::testing {
namespace {

std::vector<unsigned char> cyclicCoded(std::vector<unsigned char> v, std::uint64_t bid) {
  ndbcrypt::cyclic(v.data(), v.size(), static_cast<std::uint32_t>(bid));
  return v;
}

// A node over `dataBid` / `subnodeBid` of a scanned file, opened.
NdbNode openNode(ScannedFile& f, std::uint64_t dataBid, std::uint64_t subnodeBid = 0,
                 CryptMode mode = CryptMode::Unknown) {
  NdbNode node(&f.format(), 0x21, dataBid, subnodeBid, 0, 0);
  node.open(mode);
  return node;
}

std::vector<unsigned char> data(const NdbNode& node) {
  std::vector<unsigned char> out;
  EXPECT_EQ(node.readData(out), 1);
  return out;
}

TEST(NodeData, SingleDataBlock) {
  TreeBuilder t(kUnicodeLayout);
  const auto payload = heapPayload(300, 0x41);
  t.block(0x1000, 0x104, payload);
  ScannedFile f(kUnicodeLayout, t.image.bytes);
  const NdbNode node = openNode(f, 0x104);
  EXPECT_EQ(node.totalSize, 300u);
  EXPECT_EQ(node.blockCount, 1u);
  EXPECT_EQ(node.cryptMode, CryptMode::None);
  EXPECT_EQ(data(node), payload);
  std::vector<unsigned char> block;
  EXPECT_EQ(node.readBlock(1, block), 0);
  EXPECT_TRUE(block.empty());
}

TEST(NodeData, XblockWithAMissingMiddleBlockReadsAZeroHole) {
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    TreeBuilder t(*layout);
    const std::uint32_t full = layout->maxPayload;
    const auto first = heapPayload(full, 0x11);
    const auto last = noisePayload(100, 3);
    t.block(0x0000, 0x104, first);
    t.block(0x4000, 0x10C, last);  // 0x108, the middle block, is nowhere
    t.block(0x6000, 0x112, t.xblock(1, 2 * full + 100, {0x104, 0x108, 0x10C}));
    ScannedFile f(*layout, t.image.bytes);
    const NdbNode node = openNode(f, 0x112);
    ASSERT_EQ(node.totalSize, 2 * full + 100);
    EXPECT_EQ(node.blockCount, 3u);
    const auto bytes = data(node);
    ASSERT_EQ(bytes.size(), 2 * full + 100);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), bytes.begin()));
    EXPECT_TRUE(std::all_of(bytes.begin() + full, bytes.begin() + 2 * full, [](unsigned char c) { return c == 0; }));
    EXPECT_TRUE(std::equal(last.begin(), last.end(), bytes.begin() + 2 * full));
  }
}

TEST(NodeData, UnicodeXxblockDividesByTheFullXblock) {
  TreeBuilder t(kUnicodeLayout);
  std::vector<std::uint64_t> bidsA(1021);
  for (std::size_t i = 0; i < bidsA.size(); ++i) bidsA[i] = 0x10000 + 4 * i;
  t.block(0x0000, bidsA[1020], noisePayload(8176, 1));
  t.block(0x2000, 0x20004, noisePayload(500, 2));
  t.block(0x4000, 0x30002, t.xblock(1, 0, bidsA));
  t.block(0x6000, 0x30006, t.xblock(1, 0, {0x20004, 0x20008}));
  t.block(0x8000, 0x3000A, t.xblock(2, 1022 * 8176 + 500, {0x30002, 0x30006}));
  t.image.bytes.resize(1022 * 8176);  // a file as large as its lost blocks, zeros past the blocks
  ScannedFile f(kUnicodeLayout, t.image.bytes);
  NdbFormat& format = f.format();
  ASSERT_NE(format.findDataBlock(0x3000A, 1020), nullptr);
  EXPECT_EQ(format.findDataBlock(0x3000A, 1020)->offset, 0x0000u);
  ASSERT_NE(format.findDataBlock(0x3000A, 1021), nullptr);
  EXPECT_EQ(format.findDataBlock(0x3000A, 1021)->offset, 0x2000u);
  EXPECT_EQ(format.findDataBlock(0x3000A, 1022), nullptr);  // named, not found
  EXPECT_EQ(format.findDataBlock(0x3000A, 1023), nullptr);  // beyond the second XBLOCK
  EXPECT_EQ(format.findDataBlock(0x3000A, 2042), nullptr);
  EXPECT_EQ(format.dataTreeSize(0x3000A), 1022u * 8176 + 500);
  const NdbNode node = openNode(f, 0x3000A);
  EXPECT_EQ(node.blockCount, 1023u);
  const auto bytes = data(node);
  EXPECT_EQ(bytes.size(), 1022u * 8176 + 500);
  EXPECT_NE(bytes[1021u * 8176], 0);  // first byte of block 1021
}

TEST(NodeData, AnsiXxblockWalksTheChildXblocksCount) {
  // Under-filled child XBLOCKs (3 and 2 entries): index 3 is the second's
  // first. A child that cannot be read counts as a full XBLOCK (2043).
  TreeBuilder t(kAnsiLayout);
  t.block(0x0000, 0x204, noisePayload(40, 1));
  t.block(0x0400, 0x208, noisePayload(40, 2));
  t.block(0x0800, 0x302, t.xblock(1, 0, {0x104, 0x108, 0x10C}));
  t.block(0x0C00, 0x306, t.xblock(1, 0, {0x204, 0x208}));
  t.block(0x1000, 0x30A, t.xblock(2, 0, {0x302, 0x306}));
  t.block(0x1400, 0x30E, t.xblock(2, 0, {0x99A, 0x306}));  // first child unknown
  ScannedFile f(kAnsiLayout, t.image.bytes);
  NdbFormat& format = f.format();
  EXPECT_EQ(format.findDataBlock(0x30A, 0), nullptr);  // named, not found
  ASSERT_NE(format.findDataBlock(0x30A, 3), nullptr);
  EXPECT_EQ(format.findDataBlock(0x30A, 3)->bid, 0x204u);
  EXPECT_EQ(format.findDataBlock(0x30A, 4)->bid, 0x208u);
  EXPECT_EQ(format.findDataBlock(0x30A, 5), nullptr);
  EXPECT_EQ(format.findDataBlock(0x30E, 2043)->bid, 0x204u);
  EXPECT_EQ(format.findDataBlock(0x30E, 2044)->bid, 0x208u);
}

TEST(NodeData, CryptModeIsDetectedPerNodeWhateverTheHeaderSays) {
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    TreeBuilder t(*layout);
    t.header({}, {});
    // bCryptMethod = NDB_CRYPT_PERMUTE in the HEADER.
    t.image.bytes[layout->variant == 64 ? 513 : 461] = 1;
    t.image.resealHeader(0);
    const std::uint32_t full = layout->maxPayload;
    const auto plain0 = heapPayload(full, 0x33);
    const auto plain1 = noisePayload(200, 5);
    t.block(0x1000, 0x104, cyclicCoded(plain0, 0x104));
    t.block(0x4000, 0x108, cyclicCoded(plain1, 0x108));
    t.block(0x6000, 0x112, t.xblock(1, full + 200, {0x104, 0x108}));
    auto permuted = heapPayload(100, 0x44);
    ndbcrypt::permute(permuted.data(), permuted.size(), true);
    t.block(0x7000, 0x204, permuted);
    t.block(0x7400, 0x208, noisePayload(100, 6));
    ScannedFile f(*layout, t.image.bytes);
    const NdbNode node = openNode(f, 0x112);
    EXPECT_EQ(node.cryptMode, CryptMode::Cyclic);
    const auto bytes = data(node);
    EXPECT_TRUE(std::equal(plain0.begin(), plain0.end(), bytes.begin()));
    EXPECT_TRUE(std::equal(plain1.begin(), plain1.end(), bytes.begin() + full));
    EXPECT_EQ(openNode(f, 0x204).cryptMode, CryptMode::Permute);
    EXPECT_EQ(openNode(f, 0x208).cryptMode, CryptMode::Unknown);
    EXPECT_EQ(openNode(f, 0x999C).cryptMode, CryptMode::Unknown);
    // A given mode is taken as is.
    EXPECT_EQ(openNode(f, 0x112, 0, CryptMode::None).cryptMode, CryptMode::None);
  }
}

TEST(NodeData, SubnodesAreLoadedOpenedWithTheParentsModeAndRead) {
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    TreeBuilder t(*layout);
    auto parent = heapPayload(64, 1);
    ndbcrypt::permute(parent.data(), parent.size(), true);
    auto child = noisePayload(90, 2);  // no heap: would detect Unknown
    const auto plainChild = child;
    ndbcrypt::permute(child.data(), child.size(), true);
    t.block(0x1000, 0x104, parent);
    t.block(0x1400, 0x108, child);
    t.block(0x1800, 0x10E, t.slblock({{0x8025, 0x108, 0}, {0x8045, 0x999C, 0}}));
    ScannedFile f(*layout, t.image.bytes);
    const NdbNode node = openNode(f, 0x104, 0x10E);
    EXPECT_EQ(node.cryptMode, CryptMode::Permute);
    ASSERT_EQ(node.subnodes().keyCount(), 2u);
    const NdbNode* sub = node.subnodes().find(0x8025);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->cryptMode, CryptMode::Permute);
    EXPECT_EQ(sub->parentNid, 0u);
    EXPECT_EQ(sub->entryPosition, 0x1800u + layout->slEntriesOffset);
    std::vector<unsigned char> bytes;
    EXPECT_EQ(node.readSubnodeData(0x8025, bytes), 1);
    EXPECT_EQ(bytes, plainChild);
    EXPECT_EQ(node.readSubnodeData(0x8045, bytes), 1);  // present, its data lost
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(node.readSubnodeData(0x9999, bytes), 0);
  }
}

TEST(NodeData, SubnodeTreeDuplicatesKeepTheLaterEqualVersion) {
  // SIBLOCK: X, Y, X. NID 0x41 is v_a in X and v_b in Y, so the list is
  // [a, b, a]; the first a equals a later one and goes: [b, a].
  TreeBuilder t(kUnicodeLayout);
  t.block(0x1000, 0x10A, t.slblock({{0x41, 0x104, 0}, {0x42, 0x104, 0}}));
  t.block(0x1400, 0x10E, t.slblock({{0x41, 0x108, 0}}));
  t.block(0x1800, 0x112 | 0x2, t.siblock({{0x41, 0x10A}, {0x41, 0x10E}, {0x42, 0x10A}}));
  ScannedFile f(kUnicodeLayout, t.image.bytes);
  NodeMap map;
  EXPECT_EQ(f.format().loadSubnodes(0x112 | 0x2, map), 2u);
  ASSERT_EQ(map.versions(0x41)->size(), 2u);
  EXPECT_EQ(map.find(0x41)->dataBid, 0x104u);
  EXPECT_EQ(map.versions(0x41)->front().dataBid, 0x108u);
  EXPECT_EQ(map.versions(0x42)->size(), 1u);
}

TEST(NodeData, MarkUsedMarksTheNodeAndBothRootBlocks) {
  TreeBuilder t(kAnsiLayout);
  t.block(0x1000, 0x104, heapPayload(64, 1));
  t.block(0x1400, 0x10E, t.slblock({{0x8025, 0x104, 0}}));
  ScannedFile f(kAnsiLayout, t.image.bytes);
  NdbNode node = openNode(f, 0x104, 0x10E);
  node.markUsed(1);
  EXPECT_EQ(node.isUsed(), 1u);
  EXPECT_EQ(f.format().blockIndex().find(0x104)->usedMark, 1u);
  EXPECT_EQ(f.format().blockIndex().find(0x10E)->usedMark, 1u);
  EXPECT_EQ(node.subnodes().find(0x8025)->isUsed(), 0u);
  NdbNode lost(&f.format(), 0x22, 0x999C, 0, 0, 0);
  lost.markUsed(2);  // unknown BIDs are passed over
  EXPECT_EQ(lost.isUsed(), 2u);
}

// Hostile trees: every walk ends, and what lies beyond its bound is missing.

TEST(HostileTrees, DataTreesNamingThemselvesOrNestingTooDeep) {
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    TreeBuilder t(*layout);
    t.block(0x0000, 0x104, noisePayload(40, 1));
    t.block(0x0400, 0x302, t.xblock(1, 40, {0x302}));          // XBLOCK naming itself
    t.block(0x0800, 0x306, t.xblock(1, 40, {0x104}));
    t.block(0x0C00, 0x30A, t.xblock(2, 40, {0x30E}));          // XXBLOCK under an XXBLOCK
    t.block(0x1000, 0x30E, t.xblock(2, 40, {0x306}));
    t.block(0x1400, 0x312, t.xblock(2, 40, {0x312}));          // XXBLOCK naming itself
    t.block(0x1800, 0x316, t.xblock(1, 0xFFFFFFFFu, {0x104})); // lcbTotal far beyond one entry
    ScannedFile f(*layout, t.image.bytes);
    NdbFormat& format = f.format();
    EXPECT_EQ(format.findDataBlock(0x302, 0), nullptr);
    EXPECT_EQ(format.findDataBlock(0x30A, 0), nullptr);
    EXPECT_EQ(format.findDataBlock(0x312, 0), nullptr);
    ASSERT_NE(format.findDataBlock(0x30E, 0), nullptr);  // the sound inner tree
    EXPECT_EQ(format.findDataBlock(0x30E, 0)->bid, 0x104u);
    const NdbNode huge = openNode(f, 0x316);
    EXPECT_EQ(huge.totalSize, layout->maxPayload);
    EXPECT_EQ(data(huge).size(), layout->maxPayload);
  }
}

TEST(HostileTrees, StreamsHoldNoMoreZerosThanTheFileHasBytes) {
  // An XXBLOCK naming one XBLOCK in every entry, that XBLOCK one data block
  // in every entry, lcbTotal near 4 GiB: a file of a few blocks. The stream
  // is cut at the file's length plus the one block it holds; it starts
  // with that block. A tree whose blocks are all lost, with lcbTotal the
  // same, holds only the file's length of zeros.
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    TreeBuilder t(*layout);
    const std::uint32_t room = (layout->maxPayload - layout->xblockBidArrayOffset) / layout->refWidth;
    const auto block = noisePayload(layout->maxPayload, 7);
    t.block(0x0000, 0x104, block);
    t.block(0x2000, 0x302, t.xblock(1, 0, std::vector<std::uint64_t>(room, 0x104)));
    t.block(0x4000, 0x306, t.xblock(2, 0xFFFFFFF0u, std::vector<std::uint64_t>(room, 0x302)));
    t.block(0x6000, 0x30A, t.xblock(2, 0xFFFFFFF0u, std::vector<std::uint64_t>(room, 0x99A)));
    ScannedFile f(*layout, t.image.bytes);
    const std::uint64_t fileLength = t.image.bytes.size();
    const NdbNode repeated = openNode(f, 0x306);
    EXPECT_EQ(repeated.totalSize, fileLength + layout->maxPayload);
    const auto bytes = data(repeated);
    ASSERT_EQ(bytes.size(), repeated.totalSize);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), bytes.begin()));
    const NdbNode lost = openNode(f, 0x30A);
    EXPECT_EQ(lost.totalSize, fileLength);
    EXPECT_EQ(data(lost).size(), fileLength);
  }
}

TEST(HostileTrees, EntriesPastTheBlocksPayloadAreNotRead) {
  TreeBuilder t(kAnsiLayout);
  auto sl = t.slblock({{0x41, 0x104, 0}, {0x42, 0x104, 0}});
  sl[2] = 200;  // cEnt claims 200 entries in a 28-byte payload
  t.block(0x1000, 0x10A, sl);
  auto x = t.xblock(1, 0, {0x104});
  x[2] = 250;
  t.block(0x1400, 0x10E, x);
  ScannedFile f(kAnsiLayout, t.image.bytes);
  NodeMap map;
  EXPECT_EQ(f.format().loadSubnodes(0x10A, map), 2u);
  EXPECT_EQ(f.format().findDataBlock(0x10E, 1), nullptr);
}

TEST(HostileTrees, SubnodeTreesNamingThemselvesOrAnAncestor) {
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    TreeBuilder t(*layout);
    t.block(0x0000, 0x104, heapPayload(64, 1));
    t.block(0x0400, 0x10A, t.slblock({{0x41, 0x104, 0}}));
    t.block(0x0800, 0x10E, t.siblock({{0x41, 0x10E}, {0x41, 0x10A}}));  // names itself, then an SLBLOCK
    t.block(0x0C00, 0x112, t.siblock({{0x41, 0x116}}));                 // names an SIBLOCK naming it
    t.block(0x1000, 0x116, t.siblock({{0x41, 0x112}}));
    // A subnode whose subnode tree is its parent's: open would recurse.
    t.block(0x1400, 0x11A, t.slblock({{0x8025, 0x104, 0x11A}, {0x8045, 0x104, 0x10A}}));
    ScannedFile f(*layout, t.image.bytes);
    NdbFormat& format = f.format();
    NodeMap map;
    EXPECT_EQ(format.loadSubnodes(0x10E, map), 1u);
    EXPECT_EQ(map.find(0x41)->dataBid, 0x104u);
    EXPECT_EQ(format.loadSubnodes(0x112, map), 0u);
    const NdbNode node = openNode(f, 0x104, 0x11A);
    const NdbNode* looping = node.subnodes().find(0x8025);
    ASSERT_NE(looping, nullptr);
    EXPECT_TRUE(looping->subnodes().empty());
    EXPECT_EQ(looping->totalSize, 64u);
    const NdbNode* sound = node.subnodes().find(0x8045);
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(sound->subnodes().keyCount(), 1u);
  }
}

TEST(HostileTrees, SubnodeTreeNamingOneSlblockOverAndOverLoadsItOnce) {
  // An SIBLOCK full of one SLBLOCK (another named once, in the middle), and
  // that SLBLOCK full of one NID, each of its versions there twice: a few
  // KiB that would make hundreds of thousands of versions. The result is
  // each block and each version taken once, at its last place.
  for (const NdbLayout* layout : {&kAnsiLayout, &kUnicodeLayout}) {
    TreeBuilder t(*layout);
    const std::uint32_t half = (layout->maxPayload - layout->slEntriesOffset) / layout->slEntrySize / 2;
    const std::uint32_t siRoom = (layout->maxPayload - layout->slEntriesOffset) / layout->siEntrySize;
    std::vector<SlEntry> twice;
    for (std::uint32_t i = 0; i < 2 * half; ++i) twice.push_back({0x41, 0x1000 + 4 * (i % half), 0});
    t.block(0x0000, 0x10A, t.slblock(twice));
    t.block(0x2000, 0x10E, t.slblock({{0x41, 0x10C, 0}, {0x42, 0x104, 0}}));
    std::vector<SiEntry> names(siRoom, SiEntry{0x41, 0x10A});
    names[siRoom / 2] = {0x41, 0x10E};
    t.block(0x4000, 0x112, t.siblock(names));
    ScannedFile f(*layout, t.image.bytes);
    NodeMap map;
    ASSERT_EQ(f.format().loadSubnodes(0x112, map), 2u);
    const auto* versions = map.versions(0x41);
    ASSERT_NE(versions, nullptr);
    ASSERT_EQ(versions->size(), half + 1);
    EXPECT_EQ(versions->front().dataBid, 0x10Cu);  // the other SLBLOCK's, before the last naming
    for (std::uint32_t i = 0; i < half; ++i) ASSERT_EQ((*versions)[i + 1].dataBid, 0x1000 + 4 * i) << i;
    EXPECT_EQ(map.versions(0x42)->size(), 1u);
  }
}

TEST(HostileTrees, SubnodeChainsDeeperThanTheBoundAreNotOpened) {
  // Each SLBLOCK's one subnode has the next SLBLOCK as its subnode tree.
  TreeBuilder t(kUnicodeLayout);
  t.block(0x0000, 0x104, heapPayload(64, 1));
  const std::uint32_t levels = kMaxSubnodeNesting + 5;
  for (std::uint32_t i = 0; i < levels; ++i)
    t.block(0x400 + 0x100 * i, 0x1002 + 4 * i, t.slblock({{0x8025, 0x104, 0x1002 + 4 * (i + 1)}}));
  ScannedFile f(kUnicodeLayout, t.image.bytes);
  const NdbNode top = openNode(f, 0x104, 0x1002);
  std::uint32_t depth = 0;
  for (const NdbNode* n = &top; !n->subnodes().empty(); n = n->subnodes().find(0x8025)) ++depth;
  EXPECT_EQ(depth, kMaxSubnodeNesting);
}

// The shared samples.

// The NBT entries reachable from the HEADER by a strict walk: pages at the
// BREF's ib, checked, their BID equal to the BREF's.
void walkNbt(const std::vector<unsigned char>& file, const NdbLayout& L, BlockRef ref, int depth,
             std::vector<NbtEntry>& out) {
  ASSERT_LT(depth, 8);
  ASSERT_LE(ref.ib + L.pageSize, file.size());
  const unsigned char* p = file.data() + ref.ib;
  ASSERT_TRUE(ndbcheck::isBTreePage(L, p, L.pageSize));
  ASSERT_EQ(loadRef(L, p + L.pageBidOffset), ref.bid);
  const std::uint32_t cLevel = p[L.cLevelOffset];
  for (std::uint32_t i = 0; i < p[L.cEntOffset]; ++i) {
    if (cLevel > 0) {
      const unsigned char* e = p + i * L.btEntrySize + L.btEntryBrefOffset;
      walkNbt(file, L, {loadRef(L, e), loadRef(L, e + L.refWidth)}, depth + 1, out);
    } else {
      const unsigned char* e = p + i * L.nbtEntrySize;
      out.push_back({static_cast<std::uint32_t>(loadRef(L, e)), loadRef(L, e + L.nbtEntryDataOffset),
                     loadRef(L, e + L.nbtEntrySubOffset), loadLe32(e + L.nbtEntryParentOffset)});
    }
  }
}

TEST(Samples, NodeIndexHoldsEveryReachableEntryAndEveryNodeReadsInFull) {
  for (const std::string& path : sampleFiles(BRELLIN_SAMPLES_DIR)) {
    SCOPED_TRACE(path);
    const auto file = readWholeFile(path);
    const auto report = runNodeReport(path, ScanRequest::Variant::Auto);
    ASSERT_TRUE(report.has_value());
    const NdbLayout& L = report->variant == 64 ? kUnicodeLayout : kAnsiLayout;
    ScannedFile f(L, file);
    NdbFormat& format = f.format();
    ASSERT_TRUE(format.rootNbt().has_value());
    std::vector<NbtEntry> reachable;
    walkNbt(file, L, *format.rootNbt(), 0, reachable);
    ASSERT_FALSE(reachable.empty());
    for (const NbtEntry& e : reachable) {
      const NdbNode* node = format.nodeIndex().find(e.nid);
      ASSERT_NE(node, nullptr) << std::hex << e.nid;
      EXPECT_EQ(node->dataBid, e.dataBid) << std::hex << e.nid;
      EXPECT_EQ(node->subnodeBid, e.subnodeBid) << std::hex << e.nid;
      EXPECT_EQ(node->parentNid, e.parentNid) << std::hex << e.nid;
    }
    EXPECT_EQ(report->rows.size(), format.nodeIndex().keyCount());

    std::uint32_t heaps = 0, subnodes = 0;
    std::vector<unsigned char> bytes;
    std::function<void(const NdbNode&)> check = [&](const NdbNode& n) {
      EXPECT_EQ(n.totalSize, format.dataTreeSize(n.dataBid)) << std::hex << n.nid;
      EXPECT_EQ(n.readData(bytes), 1);
      EXPECT_EQ(bytes.size(), n.totalSize);
      for (std::uint32_t i = 0; i < n.blockCount; ++i) EXPECT_NE(format.findDataBlock(n.dataBid, i), nullptr);
      heaps += n.cryptMode == CryptMode::None || n.cryptMode == CryptMode::Permute;
      for (const auto& list : n.subnodes().lists()) {
        ++subnodes;
        check(list.versions.back());
      }
    };
    for (auto& list : format.nodeIndex().mutableLists()) {
      NdbNode& node = list.versions.back();
      node.open(CryptMode::Unknown);
      check(node);
    }
    EXPECT_GT(heaps, format.nodeIndex().keyCount() / 4);
    // The root folder lists itself among its children.
    const NdbNode* root = format.nodeIndex().find(0x122);
    ASSERT_NE(root, nullptr);
    EXPECT_NE(std::find(root->childNids.begin(), root->childNids.end(), 0x122u), root->childNids.end());
  }
}

TEST(Samples, NodeReportJson) {
  const auto report = runNodeReport((std::filesystem::path(BRELLIN_SAMPLES_DIR) / "ansi-calendar.pst").string(),
                                    ScanRequest::Variant::Ansi);
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->variant, 32);
  const std::string json = formatNodeReportJson(*report);
  EXPECT_EQ(json.front(), '[');
  EXPECT_EQ(json.back(), ']');
  EXPECT_NE(json.find("{\"nid\": 290, \"data_bid\": "), std::string::npos);  // 0x122
  for (const char* key : {"\"subnode_bid\": ", "\"parent_nid\": ", "\"versions\": ", "\"children\": "})
    EXPECT_NE(json.find(key), std::string::npos) << key;
  EXPECT_EQ(formatNodeReportJson(NodeReport{}), "[]");
  std::string error;
  EXPECT_FALSE(runNodeReport("/nonexistent.ost", ScanRequest::Variant::Auto, &error).has_value());
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vexl::testing
