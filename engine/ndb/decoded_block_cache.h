// DecodedBlockCache: the few data blocks last read and decoded for the
// heap-on-node layer, most recent first.
//
// A heap item is a few bytes of a data block of up to 8 KiB, and a node's
// properties are read item by item (the HNHDR, the BTH header and leaves,
// every value that is not inline, every variable-size table cell), each
// through its block. Without a cache every item reads its block from the
// source and decodes it again. The bound is on blocks, not nodes: the heap
// of one node spans one block or a few, and the walk finishes a node before
// it moves on, so a handful of blocks is all that is ever read again.
//
// The source is only ever read, so a block's decoded bytes follow from its
// place, size and BID and the crypt mode it is read with; that is the key.
// The place matters: the lost-and-found pass over older block versions lets
// one BID resolve to another version in turn. Blocks are handed out shared,
// so one a caller still holds outlives its eviction.
//
// Not thread-safe: an NdbFormat, which owns its cache, is read by one
// thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/ndb/node_map.h"

namespace vexl {

// 16 blocks of at most 8 KiB each: 128 KiB.
inline constexpr std::size_t kDecodedBlockCacheBlocks = 16;

class DecodedBlockCache {
 public:
  using Block = std::shared_ptr<const std::vector<unsigned char>>;

  struct Key {
    std::uint64_t offset = 0;
    std::uint64_t bid = 0;
    std::uint32_t size = 0;
    CryptMode mode = CryptMode::Unknown;
    bool operator==(const Key&) const = default;
  };

  explicit DecodedBlockCache(std::size_t capacity = kDecodedBlockCacheBlocks);
  DecodedBlockCache(const DecodedBlockCache&) = delete;
  DecodedBlockCache& operator=(const DecodedBlockCache&) = delete;

  // The block stored under `key`, which becomes the most recent; else null.
  Block find(const Key& key);
  // Stores `block` under `key` as the most recent, in place of what `key`
  // held; the least recent block goes once more than capacity() are held.
  void insert(const Key& key, Block block);
  void clear();

  std::size_t size() const { return entries_.size(); }
  std::size_t capacity() const { return capacity_; }
  // find calls that found nothing, since construction.
  std::uint64_t misses() const { return misses_; }

 private:
  struct Entry {
    Key key;
    Block block;
  };
  // A linear search: at this size it beats any map, and the hit is almost
  // always the first or second entry.
  std::vector<Entry> entries_;
  std::size_t capacity_;
  std::uint64_t misses_ = 0;
};

}  // namespace vexl
