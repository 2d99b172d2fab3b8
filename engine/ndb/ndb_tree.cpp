// The tree walks of node data assembly over the block index: the data
// block at an index of a data tree (XXBLOCK, XBLOCK, data block), the size
// of a data tree, and the subnode map of a subnode tree (SIBLOCK, SLBLOCK).
//
// Damaged or hostile files: a block may name only blocks of a lower level
// (an XXBLOCK names XBLOCKs, an XBLOCK data blocks, an SIBLOCK SLBLOCKs), so
// a block naming itself, an ancestor or one of its own level is treated as
// missing, and the depth of every walk is bounded. Entries are read only
// within the block's payload (cb bytes), whatever cEnt claims.
#include <algorithm>
#include <unordered_set>
#include <vector>

#include "engine/ndb/ndb_format.h"

namespace vexl {

namespace {

constexpr std::uint32_t kInternalBit = 2;

struct InternalHeader {
  std::uint8_t btype = 0;
  std::uint8_t cLevel = 0;
  std::uint32_t cEnt = 0;  // bounded by the payload
};

InternalHeader readHeader(const unsigned char* b, std::uint32_t cb, std::uint32_t entriesAt, std::uint32_t entrySize) {
  InternalHeader h;
  h.btype = b[0];
  h.cLevel = b[1];
  const std::uint32_t room = cb > entriesAt ? (cb - entriesAt) / entrySize : 0;
  h.cEnt = std::min<std::uint32_t>(loadLe16(b + 2), room);
  return h;
}

}  // namespace

void NdbFormat::decode(CryptMode mode, unsigned char* bytes, std::size_t count, std::uint64_t bid) const {
  if (mode == CryptMode::Permute)
    permute(bytes, count, false);
  else if (mode == CryptMode::Cyclic)
    cyclic(bytes, count, static_cast<std::uint32_t>(bid));
}

BlockEntry* NdbFormat::findDataBlock(std::uint64_t bid, std::uint32_t index) {
  const NdbLayout& L = layout_;
  // Most nodes' data is one block: found without the buffers below.
  if ((bid & kInternalBit) == 0) {
    BlockEntry* e = blockIndex().find(bid);
    return e != nullptr && index == 0 ? e : nullptr;
  }
  const std::uint32_t capacity = (L.maxPayload - L.xblockBidArrayOffset) / L.refWidth;
  std::vector<unsigned char> buffer(kMaxInternalBlock);
  std::vector<unsigned char> child(kMaxInternalBlock);
  std::uint32_t levelAbove = 3;  // the root may be an XXBLOCK (level 2) or lower
  for (std::uint32_t depth = 0; depth < kMaxDataTreeDepth; ++depth) {
    BlockEntry* e = blockIndex().find(bid);
    if (e == nullptr) return nullptr;
    if ((bid & kInternalBit) == 0) return index == 0 ? e : nullptr;
    if (!readInternalBlock(*e, buffer.data())) return nullptr;
    const InternalHeader h = readHeader(buffer.data(), e->cb, L.xblockBidArrayOffset, L.refWidth);
    if (h.btype != 1 || (h.cLevel != 1 && h.cLevel != 2)) return index == 0 ? e : nullptr;
    if (h.cLevel >= levelAbove) return nullptr;  // under a block of its own level or lower
    levelAbove = h.cLevel;
    auto bidAt = [&](std::uint32_t i) {
      return loadRef(L, buffer.data() + L.xblockBidArrayOffset + i * L.refWidth) & ~std::uint64_t{1};
    };
    if (h.cLevel == 1) {
      if (index >= h.cEnt) return nullptr;
      bid = bidAt(index);
      index = 0;
      continue;
    }
    // XXBLOCK.
    if (!L.xxblockWalksChildren) {
      if (index / capacity >= h.cEnt) return nullptr;
      bid = bidAt(index / capacity);
      index %= capacity;
      continue;
    }
    // Walk the child XBLOCKs by their own cEnt; one that cannot be read
    // counts as full.
    std::uint32_t j = 0;
    for (; j < h.cEnt; ++j) {
      std::uint32_t held = capacity;
      const std::uint64_t c = bidAt(j);
      const BlockEntry* ce = (c & kInternalBit) != 0 ? blockIndex().find(c) : nullptr;
      if (ce != nullptr && readInternalBlock(*ce, child.data())) {
        const InternalHeader ch = readHeader(child.data(), ce->cb, L.xblockBidArrayOffset, L.refWidth);
        if (ch.btype == 1 && ch.cLevel == 1) held = ch.cEnt;
      }
      if (index < held) break;
      index -= held;
    }
    if (j >= h.cEnt) return nullptr;
    bid = bidAt(j);
  }
  return nullptr;
}

std::uint64_t NdbFormat::distinctDataBytes(std::uint64_t root) {
  // The walk of findDataBlock, over every entry at once: an internal block
  // that is not an XBLOCK or XXBLOCK counts as data, a block under one of
  // its own level or higher counts nothing.
  const NdbLayout& L = layout_;
  std::unordered_set<std::uint64_t> seen;
  std::vector<unsigned char> buffer(kMaxInternalBlock);
  std::uint64_t bytes = 0;
  struct Pending {
    std::uint64_t bid;
    std::uint32_t levelAbove, depth;
  };
  std::vector<Pending> pending{{root, 3, 0}};
  while (!pending.empty()) {
    const Pending at = pending.back();
    pending.pop_back();
    if (at.depth >= kMaxDataTreeDepth || !seen.insert(at.bid).second) continue;
    const BlockEntry* e = blockIndex().find(at.bid);
    if (e == nullptr) continue;
    if ((at.bid & kInternalBit) == 0) {
      bytes += e->cb;
      continue;
    }
    if (!readInternalBlock(*e, buffer.data())) continue;
    const InternalHeader h = readHeader(buffer.data(), e->cb, L.xblockBidArrayOffset, L.refWidth);
    if (h.btype != 1 || (h.cLevel != 1 && h.cLevel != 2)) {
      bytes += e->cb;
      continue;
    }
    if (h.cLevel >= at.levelAbove) continue;
    for (std::uint32_t i = 0; i < h.cEnt; ++i)
      pending.push_back({loadRef(L, buffer.data() + L.xblockBidArrayOffset + i * L.refWidth) & ~std::uint64_t{1},
                         h.cLevel, at.depth + 1});
  }
  return bytes;
}

std::uint32_t NdbFormat::dataTreeSize(std::uint64_t bid) {
  if (bid == 0) return 0;
  const BlockEntry* e = blockIndex().find(bid);
  if (e == nullptr) return 0;
  if ((bid & kInternalBit) == 0) return e->cb;
  unsigned char head[8];
  if (readAt(e->offset, head, sizeof head) < sizeof head) return 0;
  return loadLe32(head + layout_.xblockTotalOffset);
}

namespace {

// Removes from every list each version that equals a later one. An
// SIBLOCK may name one SLBLOCK hundreds of times, so a list can hold
// hundreds of thousands of copies: past a few versions the later ones are
// looked up in a hash set rather than compared pairwise.
void dropEarlierEquals(NodeMap& map) {
  constexpr std::size_t kPairwiseUpTo = 16;
  struct Key {
    std::uint64_t dataBid, subnodeBid;
    std::uint32_t parentNid;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const {
      std::uint64_t h = k.dataBid * 0x9E3779B97F4A7C15ull;
      h ^= (k.subnodeBid + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2)) * 0xBF58476D1CE4E5B9ull;
      h ^= k.parentNid + (h << 6) + (h >> 2);
      return static_cast<std::size_t>(h ^ (h >> 31));
    }
  };
  for (auto& list : map.mutableLists()) {
    auto& v = list.versions;
    if (v.size() < 2) continue;
    std::vector<bool> later(v.size(), false);  // an equal version comes after
    if (v.size() <= kPairwiseUpTo) {
      for (std::size_t i = 0; i < v.size(); ++i)
        for (std::size_t j = i + 1; j < v.size() && !later[i]; ++j) later[i] = v[i] == v[j];
    } else {
      // Within one list the NIDs are equal, so the rest of == is the key.
      std::unordered_set<Key, KeyHash> seen;
      for (std::size_t i = v.size(); i-- > 0;)
        later[i] = !seen.insert(Key{v[i].dataBid, v[i].subnodeBid, v[i].parentNid}).second;
    }
    if (std::find(later.begin(), later.end(), true) == later.end()) continue;
    std::vector<NdbNode> kept;
    kept.reserve(v.size());
    for (std::size_t i = 0; i < v.size(); ++i)
      if (!later[i]) kept.push_back(std::move(v[i]));
    v = std::move(kept);
  }
}

}  // namespace

std::uint32_t NdbFormat::loadSubnodes(std::uint64_t bid, NodeMap& nodeMap) {
  loadSubnodeTree(bid, nodeMap, kMaxSubnodeTreeDepth);
  return static_cast<std::uint32_t>(nodeMap.keyCount());
}

void NdbFormat::loadSubnodeTree(std::uint64_t bid, NodeMap& nodeMap, std::uint32_t levelAbove) {
  nodeMap.clear();
  const NdbLayout& L = layout_;
  if (bid == 0 || (bid & kInternalBit) == 0) return;
  const BlockEntry* e = blockIndex().find(bid);
  if (e == nullptr) return;
  std::vector<unsigned char> buffer(kMaxInternalBlock);
  if (!readInternalBlock(*e, buffer.data()) || buffer[0] != 2) return;
  const std::uint8_t cLevel = buffer[1];
  if (cLevel > 1) return;
  // An SIBLOCK may name SLBLOCKs only: one naming itself, an ancestor or
  // another SIBLOCK is passed over (the walk is at most two levels deep).
  if (cLevel >= levelAbove) return;
  const std::uint32_t entrySize = cLevel == 1 ? L.siEntrySize : L.slEntrySize;
  const InternalHeader h = readHeader(buffer.data(), e->cb, L.slEntriesOffset, entrySize);
  // An SLBLOCK named again later in this SIBLOCK gives the same versions
  // again, and the later copies are the ones kept: only its last naming is
  // read, so a block named hundreds of times costs its entries once.
  std::vector<bool> namedLater(cLevel == 1 ? h.cEnt : 0, false);
  if (cLevel == 1) {
    std::unordered_set<std::uint64_t> seen;
    for (std::uint32_t i = h.cEnt; i-- > 0;) {
      const unsigned char* p = buffer.data() + L.slEntriesOffset + i * entrySize;
      namedLater[i] = !seen.insert(loadRef(L, p + L.siEntryBidOffset) & ~std::uint64_t{1}).second;
    }
  }
  for (std::uint32_t i = 0; i < h.cEnt; ++i) {
    const unsigned char* p = buffer.data() + L.slEntriesOffset + i * entrySize;
    const auto nid = static_cast<std::uint32_t>(loadRef(L, p));
    if (cLevel == 1) {
      if (namedLater[i]) continue;
      NodeMap child;
      loadSubnodeTree(loadRef(L, p + L.siEntryBidOffset) & ~std::uint64_t{1}, child, cLevel);
      for (const auto& list : child.lists()) {
        auto& target = nodeMap.appendList(list.key);
        target.insert(target.end(), list.versions.begin(), list.versions.end());
      }
    } else {
      nodeMap.append(nid, NdbNode(this, nid, loadRef(L, p + L.slEntryDataOffset), loadRef(L, p + L.slEntrySubOffset),
                                  0, e->offset + L.slEntriesOffset + i * entrySize));
    }
  }
  dropEarlierEquals(nodeMap);
}

}  // namespace vexl
