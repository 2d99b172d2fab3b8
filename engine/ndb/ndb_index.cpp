// The index rebuild after the whole-file scan: duplicate versions of blocks
// and nodes ranked by the surviving B-trees, sorted so that the preferred
// version is last, exact copies merged; children linked; the roots of data
// and subnode trees collected.
#include "engine/ndb/ndb_index.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "engine/ndb/ndb_format.h"

namespace vexl {

// ---- BidSet -------------------------------------------------------------

void BidSet::clear() {
  pool_.clear();
  buckets_ = BucketArray();
  freeList_ = 0;
  size_ = 0;
}

bool BidSet::contains(std::uint64_t key) const {
  if (!buckets_.allocated()) return false;
  for (std::uint32_t at = buckets_[bucketOf(key, bucketCount_)]; at != 0; at = pool_[at - 1].next)
    if (pool_[at - 1].key == key) return true;
  return false;
}

bool BidSet::insert(std::uint64_t key) {
  if (contains(key)) return false;
  if (!buckets_.allocated()) buckets_ = BucketArray(bucketCount_);
  std::uint32_t at = freeList_;
  if (at != 0) {
    freeList_ = pool_[at - 1].next;
  } else {
    pool_.push_back({});
    at = static_cast<std::uint32_t>(pool_.size());
  }
  const std::uint32_t b = bucketOf(key, bucketCount_);
  pool_[at - 1] = Member{key, buckets_[b], true};
  buckets_[b] = at;
  ++size_;
  return true;
}

bool BidSet::erase(std::uint64_t key) {
  if (!buckets_.allocated()) return false;
  std::uint32_t* link = &buckets_[bucketOf(key, bucketCount_)];
  while (*link != 0) {
    Member& m = pool_[*link - 1];
    if (m.key == key) {
      const std::uint32_t at = *link;
      *link = m.next;
      m.live = false;
      m.next = freeList_;
      freeList_ = at;
      --size_;
      return true;
    }
    link = &m.next;
  }
  return false;
}

std::vector<std::uint64_t> BidSet::keys() const {
  std::vector<std::uint64_t> out;
  out.reserve(size_);
  forEach([&](std::uint64_t k) { out.push_back(k); });
  return out;
}

// ---- DuplicateMap -------------------------------------------------------

DuplicateMap::DuplicateMap(BlockIndex& blocks, std::uint32_t bucketCount)
    : blocks_(&blocks), bucketCount_(bucketCount == 0 ? 1 : bucketCount) {}
DuplicateMap::DuplicateMap(NodeMap& nodes, std::uint32_t bucketCount)
    : nodes_(&nodes), bucketCount_(bucketCount == 0 ? 1 : bucketCount) {}

void DuplicateMap::add(std::uint64_t key, std::uint32_t listNumber) {
  if (blocks_ != nullptr) key &= ~std::uint64_t{1};
  if (find(key) >= 0) return;
  if (!buckets_.allocated()) buckets_ = BucketArray(bucketCount_);
  const std::uint32_t b = bucketOf(key, bucketCount_);
  members_.push_back(Member{key, listNumber, buckets_[b]});
  buckets_[b] = static_cast<std::uint32_t>(members_.size());
}

std::int64_t DuplicateMap::find(std::uint64_t key) const {
  if (!buckets_.allocated()) return -1;
  for (std::uint32_t at = buckets_[bucketOf(key, bucketCount_)]; at != 0; at = members_[at - 1].next)
    if (members_[at - 1].key == key) return members_[at - 1].listNumber;
  return -1;
}

std::vector<std::uint32_t> DuplicateMap::listNumbers() const {
  std::vector<std::uint32_t> out;
  out.reserve(members_.size());
  for (const Member& m : members_) out.push_back(m.listNumber);
  return out;
}

namespace {

std::uint64_t blockMarkKey(std::uint32_t listNumber, std::uint16_t wSig, std::uint16_t cb) {
  return std::uint64_t{listNumber} << 32 | std::uint32_t{wSig} << 16 | cb;
}

}  // namespace

void DuplicateMap::rankBlock(std::uint64_t bid, std::uint16_t wSig, std::uint16_t cb, std::int32_t mark) {
  if (blocks_ == nullptr) return;
  const std::int64_t n = find(bid & ~std::uint64_t{1});
  if (n < 0) return;
  auto [at, added] = marks_.try_emplace(blockMarkKey(static_cast<std::uint32_t>(n), wSig, cb), mark);
  if (!added) at->second = std::max(at->second, mark);
}

void DuplicateMap::rankNode(std::uint64_t nid, std::uint64_t entryPosition, std::int32_t mark) {
  if (nodes_ == nullptr || find(nid) < 0) return;
  auto [at, added] = marks_.try_emplace(entryPosition, mark);
  if (!added) at->second = std::max(at->second, mark);
}

void DuplicateMap::applyRanks() {
  if (marks_.empty()) return;
  for (const Member& m : members_) {
    if (blocks_ != nullptr) {
      for (BlockEntry& v : blocks_->mutableLists()[m.listNumber].versions) {
        const auto at = marks_.find(blockMarkKey(m.listNumber, v.wSig, v.cb));
        if (at != marks_.end()) v.treeRank = std::max(v.treeRank, at->second);
      }
    } else {
      for (NdbNode& v : nodes_->mutableLists()[m.listNumber].versions) {
        const auto at = marks_.find(v.entryPosition);
        if (at != marks_.end()) v.treeRank = std::max(v.treeRank, at->second);
      }
    }
  }
  marks_.clear();
}

// ---- The ranking walk ---------------------------------------------------

namespace {

// Removes the versions flagged in `drop` from `list`, keeping the order.
template <typename T>
void dropFlagged(std::vector<T>& list, const std::vector<bool>& drop) {
  std::size_t out = 0;
  for (std::size_t i = 0; i < list.size(); ++i)
    if (!drop[i]) {
      if (out != i) list[out] = std::move(list[i]);
      ++out;
    }
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(out), list.end());
}

}  // namespace

void NdbFormat::rankPage(const PageEntry& page, std::int32_t mark, PageMaps& pageMaps, DuplicateMap& duplicates) {
  std::array<unsigned char, 512> bytes{};
  const NdbLayout& L = layout_;
  if (L.pageSize > bytes.size() || readAt(page.offset, bytes.data(), L.pageSize) < L.pageSize) return;
  const unsigned char* p = bytes.data();
  const std::uint32_t cLevel = p[L.cLevelOffset];
  const std::uint8_t ptype = p[L.ptypeOffset];
  if (cLevel > kMaxPageLevel) return;
  const std::uint32_t entrySize =
      cLevel > 0 ? L.btEntrySize : (ptype == kPageTypeBbt ? L.bbtEntrySize : L.nbtEntrySize);
  // Entries are read only where they lie within the entry area.
  const std::uint32_t cEnt = std::min<std::uint32_t>(p[L.cEntOffset], L.pageEntryArea / entrySize);
  for (std::uint32_t i = 0; i < cEnt; ++i) {
    const unsigned char* e = p + i * entrySize;
    if (cLevel > 0) {
      const BlockRef bref{loadRef(L, e + L.btEntryBrefOffset), loadRef(L, e + L.btEntryBrefOffset + L.refWidth)};
      rankReference(bref, mark, pageMaps[cLevel - 1], pageMaps, duplicates);
    } else if (ptype == kPageTypeBbt) {
      const std::uint64_t bid = loadRef(L, e);
      duplicates.rankBlock(bid, computeSig(loadRef(L, e + L.refWidth), bid), loadLe16(e + L.bbtEntryCbOffset), mark);
    } else if (ptype == kPageTypeNbt) {
      duplicates.rankNode(static_cast<std::uint32_t>(loadRef(L, e)), page.offset + i * entrySize, mark);
    }
  }
}

bool NdbFormat::rankReference(const BlockRef& bref, std::int32_t mark, PageMap& levelMap, PageMaps& pageMaps,
                              DuplicateMap& duplicates) {
  std::vector<PageEntry>* list = levelMap.versions(bref.bid);
  if (list == nullptr || list->empty()) return false;
  const std::uint16_t sig = computeSig(bref.ib, bref.bid);
  // The matching pages leave the map before their subtrees are walked, so
  // every page is walked once even when a page (rewritten since the scan,
  // or hostile) names pages of its own level.
  std::vector<PageEntry> matched;
  for (std::size_t i = list->size(); i-- > 0;)
    if ((*list)[i].wSig == sig) {
      matched.push_back((*list)[i]);
      list->erase(list->begin() + static_cast<std::ptrdiff_t>(i));
    }
  // (A key whose list is now empty counts as absent; the map keeps no
  // removal of keys, so the empty list stays.)
  for (const PageEntry& page : matched) rankPage(page, mark, pageMaps, duplicates);
  return !matched.empty();
}

void NdbFormat::rankDuplicates(const std::optional<BlockRef>& root, PageMaps& pageMaps, DuplicateMap& duplicates) {
  if (root) {
    for (std::uint32_t level = kMaxPageLevel + 1; level-- > 0;)
      if (rankReference(*root, static_cast<std::int32_t>(level + 1), pageMaps[level], pageMaps, duplicates)) break;
  }
  for (std::uint32_t level = kMaxPageLevel + 1; level-- > 0;) {
    PageMap& map = pageMaps[level];
    for (std::size_t k = 0; k < map.keyCount(); ++k) {
      while (!map.mutableLists()[k].versions.empty()) {
        const PageEntry page = map.mutableLists()[k].versions.back();
        map.mutableLists()[k].versions.pop_back();
        rankPage(page, static_cast<std::int32_t>(level), pageMaps, duplicates);
      }
    }
    map.clear();
  }
  duplicates.applyRanks();
}

// ---- The block index ----------------------------------------------------

namespace {

bool sameBytes(NdbFormat& format, const BlockEntry& a, const BlockEntry& b, std::vector<unsigned char>& x,
               std::vector<unsigned char>& y) {
  x.assign(a.cb, 0);
  y.assign(b.cb, 0);
  const std::uint32_t nx = format.readAt(a.offset, x.data(), a.cb);
  const std::uint32_t ny = format.readAt(b.offset, y.data(), b.cb);
  return nx == ny && std::memcmp(x.data(), y.data(), nx) == 0;
}

struct CopyKey {
  std::uint64_t bid;
  std::uint32_t dwCRC;
  std::uint16_t cb;
  bool zero;
  bool operator==(const CopyKey&) const = default;
};

struct CopyKeyHash {
  std::size_t operator()(const CopyKey& k) const {
    return std::hash<std::uint64_t>()(k.bid * 0x9E3779B97F4A7C15ull ^ (std::uint64_t{k.dwCRC} << 17 | k.cb << 1 | k.zero));
  }
};

constexpr std::size_t kMaxCopyCompares = 8;

// The fields NdbNode's equality compares.
struct NodeKey {
  std::uint64_t dataBid, subnodeBid;
  std::uint32_t nid, parentNid;
  bool operator==(const NodeKey&) const = default;
};

struct NodeKeyHash {
  std::size_t operator()(const NodeKey& k) const {
    return std::hash<std::uint64_t>()((k.dataBid * 0x9E3779B97F4A7C15ull) ^ (k.subnodeBid * 0xC2B2AE3D27D4EB4Full) ^
                                      (std::uint64_t{k.nid} << 32 | k.parentNid));
  }
};

}  // namespace

std::uint32_t NdbFormat::buildBlockIndex(const std::optional<BlockRef>& rootBbt, PageMaps& bbtPageMaps,
                                         BlockIndex& blockIndex) {
  DuplicateMap duplicates(blockIndex, kBlockDuplicateBuckets);
  auto& lists = blockIndex.mutableLists();
  for (std::size_t i = 0; i < lists.size(); ++i) {
    if (lists[i].versions.size() < 2) continue;
    duplicates.add(lists[i].key, static_cast<std::uint32_t>(i));
    for (BlockEntry& v : lists[i].versions) v.treeRank = -1;
  }
  if (duplicates.empty()) return static_cast<std::uint32_t>(blockIndex.keyCount());
  rankDuplicates(rootBbt, bbtPageMaps, duplicates);

  std::vector<unsigned char> x, y;
  for (std::uint32_t n : duplicates.listNumbers()) {
    std::vector<BlockEntry>& list = lists[n].versions;
    // Block order, ascending: rank; signature not fitting the offset first;
    // zero blocks first; lower offset first.
    auto key = [this](const BlockEntry& e) {
      return std::make_tuple(e.treeRank, e.wSig == computeSig(e.offset, e.bid), !e.zero, e.offset);
    };
    std::stable_sort(list.begin(), list.end(),
                     [&](const BlockEntry& a, const BlockEntry& b) { return key(a) < key(b); });
    // Of the exact copies of a version only the last (preferred) one stays.
    // Candidates are those with the same BID, cb, CRC and zero flag; each
    // is compared with at most kMaxCopyCompares kept ones, so versions made
    // to share a CRC cannot make this quadratic (an uncompared copy stays,
    // a harmless duplicate).
    std::vector<bool> drop(list.size(), false);
    std::unordered_map<CopyKey, std::vector<std::size_t>, CopyKeyHash> kept;
    for (std::size_t i = list.size(); i-- > 0;) {
      const BlockEntry& a = list[i];
      std::vector<std::size_t>& same = kept[CopyKey{a.bid, a.dwCRC, a.cb, a.zero}];
      for (std::size_t k = 0; k < same.size() && k < kMaxCopyCompares && !drop[i]; ++k)
        drop[i] = sameBytes(*this, list[same[k]], a, x, y);
      if (!drop[i]) same.push_back(i);
    }
    dropFlagged(list, drop);
  }
  return static_cast<std::uint32_t>(blockIndex.keyCount());
}

// ---- The node index -----------------------------------------------------

std::uint32_t NdbFormat::buildNodeIndex(const std::optional<BlockRef>& rootNbt, PageMaps& nbtPageMaps,
                                        NodeMap& nodeIndex) {
  nodeIndex.clear();
  const NdbLayout& L = layout_;
  std::array<unsigned char, 512> bytes{};
  for (const auto& pages : nbtPageMaps[0].lists()) {
    for (const PageEntry& page : pages.versions) {
      if (L.pageSize > bytes.size() || readAt(page.offset, bytes.data(), L.pageSize) < L.pageSize) continue;
      const unsigned char* p = bytes.data();
      if (p[L.cLevelOffset] != 0 || p[L.ptypeOffset] != kPageTypeNbt) continue;  // changed since the scan
      const std::uint32_t cEnt = std::min<std::uint32_t>(p[L.cEntOffset], L.pageEntryArea / L.nbtEntrySize);
      for (std::uint32_t i = 0; i < cEnt; ++i) {
        const unsigned char* e = p + i * L.nbtEntrySize;
        const auto nid = static_cast<std::uint32_t>(loadRef(L, e));
        nodeIndex.append(nid, NdbNode(this, nid, loadRef(L, e + L.nbtEntryDataOffset),
                                      loadRef(L, e + L.nbtEntrySubOffset), loadLe32(e + L.nbtEntryParentOffset),
                                      page.offset + i * L.nbtEntrySize));
      }
    }
  }

  DuplicateMap duplicates(nodeIndex, kNodeDuplicateBuckets);
  auto& lists = nodeIndex.mutableLists();
  for (std::size_t i = 0; i < lists.size(); ++i) {
    if (lists[i].versions.size() < 2) continue;
    duplicates.add(lists[i].key, static_cast<std::uint32_t>(i));
    for (NdbNode& v : lists[i].versions) v.treeRank = 0;
  }
  if (!duplicates.empty()) {
    rankDuplicates(rootNbt, nbtPageMaps, duplicates);
    const BlockIndex& blocks = blockIndex();
    auto present = [&](std::uint64_t bid) { return bid != 0 && blocks.find(bid) != nullptr; };
    for (std::uint32_t n : duplicates.listNumbers()) {
      std::vector<NdbNode>& list = lists[n].versions;
      // Node order, ascending: rank; data block absent first; subnode block
      // absent first; lower entry position first.
      auto key = [&](const NdbNode& v) {
        return std::make_tuple(v.treeRank, present(v.dataBid), present(v.subnodeBid), v.entryPosition);
      };
      std::stable_sort(list.begin(), list.end(), [&](const NdbNode& a, const NdbNode& b) { return key(a) < key(b); });
      // Of equal versions only the last (preferred) one stays.
      std::vector<bool> drop(list.size(), false);
      std::unordered_set<NodeKey, NodeKeyHash> kept;
      for (std::size_t i = list.size(); i-- > 0;) {
        const NdbNode& v = list[i];
        drop[i] = !kept.insert(NodeKey{v.dataBid, v.subnodeBid, v.nid, v.parentNid}).second;
      }
      dropFlagged(list, drop);
    }
  }

  for (auto& entry : lists) {
    if (entry.versions.empty()) continue;
    const NdbNode& v = entry.versions.back();
    if (v.parentNid == 0) continue;
    if (NdbNode* parent = nodeIndex.find(v.parentNid)) parent->childNids.push_back(v.nid);
  }
  return static_cast<std::uint32_t>(nodeIndex.keyCount());
}

// ---- Tree roots ---------------------------------------------------------

bool NdbFormat::readInternalBlock(const BlockEntry& entry, unsigned char* buffer) {
  if (entry.allocatedSize > kMaxInternalBlock) return false;
  return readAt(entry.offset, buffer, entry.allocatedSize) >= entry.allocatedSize;
}

std::uint32_t NdbFormat::collectDataTreeRoots() {
  dataTreeRoots_.clear();
  BidSet referenced(kBlockIndexBuckets);
  std::vector<unsigned char> buffer(kMaxInternalBlock);
  const NdbLayout& L = layout_;
  for (const auto& list : blockIndex().lists()) {
    if (list.versions.empty()) continue;
    const BlockEntry& e = list.versions.back();
    if ((list.key & 2) == 0) {
      if (!referenced.contains(list.key)) dataTreeRoots_.insert(list.key);
      continue;
    }
    if (!readInternalBlock(e, buffer.data()) || buffer[0] != 1) continue;
    if (!referenced.contains(list.key)) dataTreeRoots_.insert(list.key);
    // BIDs are read only within the block's payload.
    const std::uint32_t room = e.cb > L.xblockBidArrayOffset ? (e.cb - L.xblockBidArrayOffset) / L.refWidth : 0;
    const std::uint32_t cEnt = std::min<std::uint32_t>(loadLe16(buffer.data() + 2), room);
    for (std::uint32_t i = 0; i < cEnt; ++i) {
      const std::uint64_t child = loadRef(L, buffer.data() + L.xblockBidArrayOffset + i * L.refWidth) & ~std::uint64_t{1};
      if (child == 0) continue;
      dataTreeRoots_.erase(child);
      referenced.insert(child);
    }
  }
  return static_cast<std::uint32_t>(dataTreeRoots_.size());
}

std::uint32_t NdbFormat::collectSubnodeTreeRoots() {
  subnodeTreeRoots_.clear();
  BidSet referenced(kBlockIndexBuckets);
  std::vector<unsigned char> buffer(kMaxInternalBlock);
  const NdbLayout& L = layout_;
  for (const auto& list : blockIndex().lists()) {
    if (list.versions.empty() || (list.key & 2) == 0) continue;
    const BlockEntry& e = list.versions.back();
    if (!readInternalBlock(e, buffer.data()) || buffer[0] != 2) continue;
    if (!referenced.contains(list.key)) subnodeTreeRoots_.insert(list.key);
    const std::uint32_t cLevel = buffer[1];
    if (cLevel > 1) continue;
    const std::uint32_t entrySize = cLevel == 1 ? L.siEntrySize : L.slEntrySize;
    const std::uint32_t field = cLevel == 1 ? L.siEntryBidOffset : L.slEntrySubOffset;
    const std::uint32_t room = e.cb > L.slEntriesOffset ? (e.cb - L.slEntriesOffset) / entrySize : 0;
    const std::uint32_t cEnt = std::min<std::uint32_t>(loadLe16(buffer.data() + 2), room);
    for (std::uint32_t i = 0; i < cEnt; ++i) {
      const std::uint64_t child =
          loadRef(L, buffer.data() + L.slEntriesOffset + i * entrySize + field) & ~std::uint64_t{1};
      if (child == 0) continue;
      subnodeTreeRoots_.erase(child);
      referenced.insert(child);
    }
  }
  return static_cast<std::uint32_t>(subnodeTreeRoots_.size());
}

}  // namespace vexl
