#include "mapi/pst/allocation_map.h"

#include <algorithm>
#include <utility>

#include "mapi/pst/pst_error.h"

namespace vexl::pst {

std::vector<MapPage> AllocationMap::mapPagesOf(std::size_t interval) {
  const Ib base = intervalStart(interval);
  std::vector<MapPage> pages{{base, PageType::AMap}};
  if (interval % kPMapEvery == 0) pages.push_back({base + 512, PageType::PMap});
  if (fmapFirstCovered(interval)) pages.push_back({base + 1024, PageType::FMap});
  // The FPMap sits three pages in; grow() reserves everything up to the
  // last map page, so the page before it is kept even where no FMap is.
  if (interval >= kHeaderFPMapCount && (interval - kHeaderFPMapCount) % kFPMapEvery == 0)
    pages.push_back({base + 1536, PageType::FPMap});
  return pages;
}

std::optional<std::size_t> AllocationMap::fmapFirstCovered(std::size_t interval) {
  if (interval >= kHeaderFMapCount && (interval - kHeaderFMapCount) % kFMapEvery == 0) return interval;
  return std::nullopt;
}

void AllocationMap::grow() {
  const std::size_t interval = bits_.size();
  bits_.push_back(std::make_unique<Bits>());
  bits_.back()->fill(0);
  const auto pages = mapPagesOf(interval);
  const Ib base = intervalStart(interval);
  const Ib reservedEnd = pages.back().ib + 512;
  setBits(base, static_cast<std::uint32_t>(reservedEnd - base), true);
  addFree(reservedEnd, base + kIntervalSize - reservedEnd);
  dirty_.insert(interval);
}

void AllocationMap::insertRun(Ib ib, std::uint64_t bytes) {
  free_.emplace(ib, bytes);
  bySize_.emplace(bytes, ib);
}

void AllocationMap::eraseRun(std::map<Ib, std::uint64_t>::iterator it) {
  bySize_.erase({it->second, it->first});
  free_.erase(it);
}

std::optional<Ib> AllocationMap::allocate(std::uint32_t bytes, std::uint32_t alignment) {
  // Runs of at least bytes + alignment - 64 always hold an aligned fit; a
  // few shorter ones are tried first so that exact holes (a freed page) are
  // reused, without walking every unaligned fragment.
  int shortTries = 64;
  for (auto s = bySize_.lower_bound({bytes, 0}); s != bySize_.end(); ++s) {
    const auto [length, start] = *s;
    const Ib aligned = (start + alignment - 1) / alignment * alignment;
    if (aligned + bytes > start + length) {
      if (--shortTries == 0) s = std::prev(bySize_.lower_bound({bytes + alignment - kUnit, 0}));
      continue;
    }
    eraseRun(free_.find(start));
    if (aligned > start) insertRun(start, aligned - start);
    const Ib end = aligned + bytes;
    if (end < start + length) insertRun(end, start + length - end);
    freeBytes_ -= bytes;
    setBits(aligned, bytes, true);
    return aligned;
  }
  return std::nullopt;
}

void AllocationMap::release(Ib ib, std::uint32_t bytes) {
  setBits(ib, bytes, false);
  addFree(ib, bytes);
}

void AllocationMap::addFree(Ib ib, std::uint64_t bytes) {
  if (bytes == 0) return;
  freeBytes_ += bytes;
  auto next = free_.lower_bound(ib);
  if (next != free_.begin()) {
    auto prev = std::prev(next);
    if (prev->first + prev->second == ib) {
      ib = prev->first;
      bytes += prev->second;
      eraseRun(prev);
    }
  }
  if (next != free_.end() && ib + bytes == next->first) {
    bytes += next->second;
    eraseRun(next);
  }
  insertRun(ib, bytes);
}

void AllocationMap::setBits(Ib ib, std::uint32_t bytes, bool value) {
  if (ib < kFirstAMapIb || ib % kUnit != 0 || bytes % kUnit != 0 || ib + bytes > eof())
    throw PstError(PstErrorCode::InvalidArgument, "allocation outside the AMap intervals");
  constexpr std::uint64_t unitsPerInterval = kMapBytes * 8;
  std::uint64_t unit = (ib - kFirstAMapIb) / kUnit;
  const std::uint64_t end = unit + bytes / kUnit;
  while (unit < end) {
    const std::size_t interval = unit / unitsPerInterval;
    const std::uint64_t stop = std::min(end, (interval + 1) * unitsPerInterval);
    dirty_.insert(interval);
    auto& bits = bits_[interval];
    if (!bits) {
      if (value) {
        unit = stop;
        continue;
      }
      bits = std::make_unique<Bits>();
      bits->fill(0xFF);
    }
    for (; unit < stop; ++unit) {
      const std::size_t bit = unit % unitsPerInterval;
      auto& byte = (*bits)[bit / 8];
      const auto mask = static_cast<std::uint8_t>(0x80u >> (bit % 8));
      byte = value ? static_cast<std::uint8_t>(byte | mask) : static_cast<std::uint8_t>(byte & ~mask);
    }
    if (value && std::all_of(bits->begin(), bits->end(), [](std::uint8_t b) { return b == 0xFF; })) bits.reset();
  }
}

const std::array<std::uint8_t, AllocationMap::kMapBytes>& AllocationMap::amapBits(std::size_t interval) const {
  static const Bits full = [] {
    Bits b;
    b.fill(0xFF);
    return b;
  }();
  return bits_[interval] ? *bits_[interval] : full;
}

bool AllocationMap::isAllocated(Ib ib) const {
  if (ib < kFirstAMapIb || ib >= eof()) return false;
  const std::uint64_t unit = (ib - kFirstAMapIb) / kUnit;
  const std::size_t bit = unit % (kMapBytes * 8);
  const auto& bits = bits_[unit / (kMapBytes * 8)];
  return !bits || ((*bits)[bit / 8] & (0x80u >> (bit % 8))) != 0;
}

std::uint8_t AllocationMap::longestFreeRun(std::size_t interval) const {
  if (!bits_[interval]) return 0;
  std::uint32_t best = 0, run = 0;
  for (std::uint8_t byte : *bits_[interval]) {
    for (int b = 7; b >= 0; --b) {
      if (byte & (1u << b)) {
        run = 0;
      } else {
        best = std::max(best, ++run);
      }
    }
  }
  return static_cast<std::uint8_t>(std::min<std::uint32_t>(best, 255));
}

std::set<std::size_t> AllocationMap::takeDirty() { return std::exchange(dirty_, {}); }

}  // namespace vexl::pst
