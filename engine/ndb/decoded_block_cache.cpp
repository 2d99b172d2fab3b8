#include "engine/ndb/decoded_block_cache.h"

#include <algorithm>
#include <utility>

namespace vexl {

DecodedBlockCache::DecodedBlockCache(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {
  entries_.reserve(capacity_ + 1);
}

DecodedBlockCache::Block DecodedBlockCache::find(const Key& key) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.key == key; });
  if (it == entries_.end()) {
    ++misses_;
    return nullptr;
  }
  std::rotate(entries_.begin(), it, it + 1);
  return entries_.front().block;
}

void DecodedBlockCache::insert(const Key& key, Block block) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.key == key; });
  if (it != entries_.end()) entries_.erase(it);
  entries_.insert(entries_.begin(), Entry{key, std::move(block)});
  if (entries_.size() > capacity_) entries_.pop_back();
}

void DecodedBlockCache::clear() { entries_.clear(); }

}  // namespace vexl
