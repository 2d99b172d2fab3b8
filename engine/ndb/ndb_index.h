// Working and result sets of the index rebuild: the duplicates map (keys
// whose lists hold more than one version, pointing at those lists in the
// block index or node index) and the BID sets of tree roots.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "engine/ndb/node_map.h"
#include "engine/ndb/ndb_records.h"

namespace vexl {

// A hash set of 64-bit keys (bit 0 is the caller's business) with a fixed
// bucket count. Members live in a pool chained by pool numbers; removed
// members go to a free list. Iteration is in pool order.
class BidSet {
 public:
  explicit BidSet(std::uint32_t bucketCount = kBlockIndexBuckets) : bucketCount_(bucketCount == 0 ? 1 : bucketCount) {}
  BidSet(BidSet&&) noexcept = default;
  BidSet& operator=(BidSet&&) noexcept = default;

  void clear();
  // True when added, false when already present.
  bool insert(std::uint64_t key);
  // True when it was present.
  bool erase(std::uint64_t key);
  bool contains(std::uint64_t key) const;
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The members in pool order.
  template <typename F>
  void forEach(F&& f) const {
    for (const Member& m : pool_)
      if (m.live) f(m.key);
  }
  std::vector<std::uint64_t> keys() const;

 private:
  struct Member {
    std::uint64_t key = 0;
    std::uint32_t next = 0;  // pool number + 1 of the next member of the bucket or free list
    bool live = false;
  };
  std::vector<Member> pool_;
  BucketArray buckets_;
  std::uint32_t freeList_ = 0;
  std::uint32_t bucketCount_;
  std::size_t size_ = 0;
};

// Key -> the list of that key in the block index or the node index (by its
// list number there), for the keys with more than one version. Changes made
// through it are changes to the index.
class DuplicateMap {
 public:
  DuplicateMap(BlockIndex& blocks, std::uint32_t bucketCount = kBlockDuplicateBuckets);
  DuplicateMap(NodeMap& nodes, std::uint32_t bucketCount = kNodeDuplicateBuckets);

  void add(std::uint64_t key, std::uint32_t listNumber);
  std::size_t size() const { return members_.size(); }
  bool empty() const { return members_.empty(); }
  // The list numbers in the order added.
  std::vector<std::uint32_t> listNumbers() const;

  // The ranking walk records the marks of the entries that name a version
  // here and applies them once it is over: one look-up per entry, however
  // many versions a key has and however many entries name it (a hostile
  // file can hold millions of both). Blocks are matched by BID, wSig and
  // cb, nodes by the position of their NBTENTRY; a version keeps the
  // highest mark given to it.
  void rankBlock(std::uint64_t bid, std::uint16_t wSig, std::uint16_t cb, std::int32_t mark);
  void rankNode(std::uint64_t nid, std::uint64_t entryPosition, std::int32_t mark);
  void applyRanks();

 private:
  struct Member {
    std::uint64_t key;
    std::uint32_t listNumber;
    std::uint32_t next;  // member number + 1 in the bucket
  };
  std::int64_t find(std::uint64_t key) const;

  BlockIndex* blocks_ = nullptr;
  NodeMap* nodes_ = nullptr;
  std::vector<Member> members_;
  std::unordered_map<std::uint64_t, std::int32_t> marks_;
  BucketArray buckets_;
  std::uint32_t bucketCount_;
};

}  // namespace vexl
