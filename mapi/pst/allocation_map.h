// The allocation maps of the file ([MS-PST] 2.2.2.7.2 AMap, 2.2.2.7.3 PMap,
// 2.2.2.7.5 FMap, 2.2.2.7.6 FPMap) and the free-space bookkeeping behind
// them. The file is a sequence of AMap intervals of 253,952 bytes from
// 0x4400; each interval begins with its AMap page, followed by a PMap page
// every 8 intervals, an FMap page at intervals 128 + 496k and an FPMap page
// at intervals 8192 + 31744k ([MS-PST] 2.6.1.1.2: the file grows by whole
// intervals and each new interval's map pages are initialised).
//
// One bit per 64-byte unit, set when the unit is allocated, as the AMap
// stores it (most significant bit first). The bits are what the next AMap
// pages will say; space freed since the last commit stays set until the
// writer releases it after that commit (see NdbWriter). An interval whose
// every unit is allocated (most of a file written front to back) keeps no
// bits in memory.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "mapi/pst/ndb_types.h"

namespace vexl::pst {

struct MapPage {
  Ib ib;
  PageType type;
};

class AllocationMap {
 public:
  static constexpr Ib kFirstAMapIb = 0x4400;
  static constexpr std::uint32_t kUnit = 64;
  static constexpr std::uint32_t kMapBytes = 496;
  static constexpr std::uint64_t kIntervalSize = std::uint64_t{kMapBytes} * 8 * kUnit;  // 253,952
  static constexpr std::size_t kPMapEvery = 8;
  static constexpr std::size_t kHeaderFMapCount = 128;     // rgbFM covers AMaps 0..127
  static constexpr std::size_t kFMapEvery = kMapBytes;     // one FMap byte per AMap
  static constexpr std::size_t kHeaderFPMapCount = 128 * 64;
  static constexpr std::size_t kFPMapEvery = kMapBytes * 64;

  static Ib intervalStart(std::size_t interval) { return kFirstAMapIb + interval * kIntervalSize; }
  // The map pages at the start of an interval, in file order.
  static std::vector<MapPage> mapPagesOf(std::size_t interval);
  // First AMap interval an FMap page covers, or none when the interval
  // holds no FMap page.
  static std::optional<std::size_t> fmapFirstCovered(std::size_t interval);

  std::size_t intervalCount() const { return bits_.size(); }
  Ib eof() const { return intervalStart(bits_.size()); }

  // Adds one interval at the end: its map pages allocated, the rest free.
  void grow();
  // Best-fit allocation of `bytes` (a multiple of 64) at an offset that is a
  // multiple of `alignment` (64 or 512): the smallest free run that holds
  // it, lowest offset first among equals; none when no free run fits.
  std::optional<Ib> allocate(std::uint32_t bytes, std::uint32_t alignment);
  // Marks [ib, ib + bytes) free again.
  void release(Ib ib, std::uint32_t bytes);
  bool isAllocated(Ib ib) const;

  // rgbAMapBits of an interval.
  const std::array<std::uint8_t, kMapBytes>& amapBits(std::size_t interval) const;
  // The FMap byte of an interval: its longest run of free units, at most 255.
  std::uint8_t longestFreeRun(std::size_t interval) const;
  std::uint64_t freeBytes() const { return freeBytes_; }

  // Intervals whose bits changed since the last call.
  std::set<std::size_t> takeDirty();

 private:
  void setBits(Ib ib, std::uint32_t bytes, bool value);
  void addFree(Ib ib, std::uint64_t bytes);
  void insertRun(Ib ib, std::uint64_t bytes);
  void eraseRun(std::map<Ib, std::uint64_t>::iterator it);

  using Bits = std::array<std::uint8_t, kMapBytes>;
  std::vector<std::unique_ptr<Bits>> bits_;  // null: every unit allocated
  std::map<Ib, std::uint64_t> free_;              // start -> length, coalesced
  std::set<std::pair<std::uint64_t, Ib>> bySize_;  // (length, start) of the same runs
  std::uint64_t freeBytes_ = 0;
  std::set<std::size_t> dirty_;
};

}  // namespace vexl::pst
