// What the whole-file scan records: block versions, B-tree pages and the
// first HEADER. The containers keep every key's versions in the order the
// scan found them (increasing file offset) and the keys themselves in
// first-seen order, so two scans of one file compare equal element by
// element. The index rebuild settles the block lists in place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vexl {

class NdbFormat;

// One block found by the scan.
struct BlockEntry {
  const NdbFormat* format = nullptr;  // the variant that found it
  std::uint64_t bid = 0;              // trailer bid, widened; bit 0 clear
  std::uint64_t offset = 0;           // file offset of the first byte
  std::uint32_t allocatedSize = 0;    // payload + trailer rounded up to 64
  std::uint16_t cb = 0;
  std::uint16_t wSig = 0;
  std::uint32_t dwCRC = 0;
  bool zero = false;  // dwCRC 0 and every payload byte 0
  std::int32_t treeRank = -1;
  std::uint32_t usedMark = 0;

  bool operator==(const BlockEntry&) const = default;
};

// One B-tree page found by the scan.
struct PageEntry {
  std::uint64_t offset = 0;
  std::uint16_t wSig = 0;

  bool operator==(const PageEntry&) const = default;
};

// A BREF read from the HEADER or a BTENTRY.
struct BlockRef {
  std::uint64_t bid = 0;
  std::uint64_t ib = 0;

  bool operator==(const BlockRef&) const = default;
};

// Key -> versions, keys in first-seen order, versions in append order.
// `KeyMask` is applied to every key given (the block index ignores bit 0).
template <typename Entry, std::uint64_t KeyMask = ~std::uint64_t{0}>
class VersionMap {
 public:
  struct Versions {
    std::uint64_t key = 0;
    std::vector<Entry> versions;
    bool operator==(const Versions&) const = default;
  };

  void clear() {
    lists_.clear();
    slots_.clear();
  }
  void append(std::uint64_t key, const Entry& entry) {
    key &= KeyMask;
    auto [it, inserted] = slots_.try_emplace(key, lists_.size());
    if (inserted) lists_.push_back(Versions{key, {}});
    lists_[it->second].versions.push_back(entry);
  }
  const std::vector<Entry>* versions(std::uint64_t key) const {
    auto it = slots_.find(key & KeyMask);
    return it == slots_.end() ? nullptr : &lists_[it->second].versions;
  }
  std::vector<Entry>* versions(std::uint64_t key) {
    auto it = slots_.find(key & KeyMask);
    return it == slots_.end() ? nullptr : &lists_[it->second].versions;
  }
  // The preferred (last) version, or null when absent or empty.
  const Entry* find(std::uint64_t key) const {
    const auto* list = versions(key);
    return list == nullptr || list->empty() ? nullptr : &list->back();
  }
  std::size_t keyCount() const { return lists_.size(); }
  std::size_t versionCount() const {
    std::size_t n = 0;
    for (const auto& l : lists_) n += l.versions.size();
    return n;
  }
  bool empty() const { return lists_.empty(); }
  const std::vector<Versions>& lists() const { return lists_; }

  bool operator==(const VersionMap& other) const { return lists_ == other.lists_; }

 private:
  std::vector<Versions> lists_;
  std::unordered_map<std::uint64_t, std::size_t> slots_;
};

using BlockIndex = VersionMap<BlockEntry, ~std::uint64_t{1}>;
using PageMap = VersionMap<PageEntry>;
// One map per cLevel 0..7.
using PageMaps = std::array<PageMap, 8>;

// The first HEADER the scan accepted.
struct KeptHeader {
  std::uint64_t offset = 0;
  std::vector<unsigned char> bytes;  // 479 (ANSI) or 531 (Unicode)

  bool operator==(const KeptHeader&) const = default;
};

// Everything one scan produced.
struct ScanResults {
  BlockIndex blocks;
  PageMaps bbtPages;  // ptype 0x80
  PageMaps nbtPages;  // ptype 0x81
  std::optional<KeptHeader> header;
  std::uint64_t stopPosition = 0;  // the position the loop ended at
  bool aborted = false;

  void clear() {
    blocks.clear();
    for (auto& m : bbtPages) m.clear();
    for (auto& m : nbtPages) m.clear();
    header.reset();
    stopPosition = 0;
    aborted = false;
  }
  bool operator==(const ScanResults&) const = default;
};

// What the variant decision counted.
struct VariantCounts {
  std::uint64_t ansiPages = 0;
  std::uint64_t unicodePages = 0;
  bool unicodeHeader = false;
  std::uint64_t stopPosition = 0;
  bool aborted = false;

  // 64 (Unicode) or 32 (ANSI).
  std::uint8_t decision() const {
    return (unicodePages > ansiPages || (unicodePages == ansiPages && unicodeHeader)) ? 64 : 32;
  }
  bool operator==(const VariantCounts&) const = default;
};

}  // namespace vexl
