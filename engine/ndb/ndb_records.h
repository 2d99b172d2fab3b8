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
#include <utility>
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

// Fixed bucket arrays of 32-bit list numbers (0 = empty), zero-filled.
// Large arrays come straight from the system as untouched zero pages, so a
// file-wide map over a small file makes only the pages of the buckets it
// uses resident.
class BucketArray {
 public:
  BucketArray() = default;
  explicit BucketArray(std::uint32_t count);
  ~BucketArray();
  BucketArray(BucketArray&& other) noexcept { swap(other); }
  BucketArray& operator=(BucketArray&& other) noexcept {
    BucketArray(std::move(other)).swap(*this);
    return *this;
  }
  BucketArray(const BucketArray&) = delete;
  BucketArray& operator=(const BucketArray&) = delete;

  bool allocated() const { return slots_ != nullptr; }
  std::uint32_t& operator[](std::uint32_t i) { return slots_[i]; }
  std::uint32_t operator[](std::uint32_t i) const { return slots_[i]; }
  void swap(BucketArray& other) noexcept {
    std::swap(slots_, other.slots_);
    std::swap(count_, other.count_);
  }

 private:
  std::uint32_t* slots_ = nullptr;
  std::uint32_t count_ = 0;
};

// The hash of a 64-bit key: its low 32 bits shifted right by 4, modulo the
// bucket count fixed at creation.
inline std::uint32_t bucketOf(std::uint64_t key, std::uint32_t bucketCount) {
  return (static_cast<std::uint32_t>(key) >> 4) % bucketCount;
}

// Key -> versions, keys in first-seen order, versions in append order.
// `KeyMask` is applied to every key given (the block index ignores bit 0).
// The buckets (a fixed count, never rehashed) chain the key lists by their
// numbers; the bucket array is taken on the first append. Iteration is over
// the key lists in first-seen order, whatever the bucket count.
template <typename Entry, std::uint64_t KeyMask = ~std::uint64_t{0}, std::uint32_t DefaultBuckets = 17>
class VersionMap {
 public:
  struct Versions {
    std::uint64_t key = 0;
    std::vector<Entry> versions;
    bool operator==(const Versions&) const = default;
  };

  explicit VersionMap(std::uint32_t bucketCount = DefaultBuckets) : bucketCount_(bucketCount == 0 ? 1 : bucketCount) {}
  VersionMap(const VersionMap& other) : lists_(other.lists_), bucketCount_(other.bucketCount_) { relink(); }
  VersionMap& operator=(const VersionMap& other) {
    if (this != &other) {
      lists_ = other.lists_;
      bucketCount_ = other.bucketCount_;
      relink();
    }
    return *this;
  }
  VersionMap(VersionMap&&) noexcept = default;
  VersionMap& operator=(VersionMap&&) noexcept = default;

  void clear() {
    lists_.clear();
    chain_.clear();
    buckets_ = BucketArray();
  }
  void append(std::uint64_t key, const Entry& entry) { appendList(key).push_back(entry); }
  // The list of `key`, created (empty) when absent.
  std::vector<Entry>& appendList(std::uint64_t key) {
    key &= KeyMask;
    const std::uint32_t at = slotOf(key);
    if (at != 0) return lists_[at - 1].versions;
    if (!buckets_.allocated()) buckets_ = BucketArray(bucketCount_);
    const std::uint32_t b = bucketOf(key, bucketCount_);
    lists_.push_back(Versions{key, {}});
    chain_.push_back(buckets_[b]);
    buckets_[b] = static_cast<std::uint32_t>(lists_.size());
    return lists_.back().versions;
  }
  const std::vector<Entry>* versions(std::uint64_t key) const {
    const std::uint32_t at = slotOf(key & KeyMask);
    return at == 0 ? nullptr : &lists_[at - 1].versions;
  }
  std::vector<Entry>* versions(std::uint64_t key) {
    const std::uint32_t at = slotOf(key & KeyMask);
    return at == 0 ? nullptr : &lists_[at - 1].versions;
  }
  // The number (0-based, first-seen order) of the list of `key`, or -1.
  std::int64_t listNumber(std::uint64_t key) const { return static_cast<std::int64_t>(slotOf(key & KeyMask)) - 1; }
  // The preferred (last) version, or null when absent or empty.
  const Entry* find(std::uint64_t key) const {
    const auto* list = versions(key);
    return list == nullptr || list->empty() ? nullptr : &list->back();
  }
  Entry* find(std::uint64_t key) {
    auto* list = versions(key);
    return list == nullptr || list->empty() ? nullptr : &list->back();
  }
  std::size_t keyCount() const { return lists_.size(); }
  std::size_t versionCount() const {
    std::size_t n = 0;
    for (const auto& l : lists_) n += l.versions.size();
    return n;
  }
  bool empty() const { return lists_.empty(); }
  std::uint32_t bucketCount() const { return bucketCount_; }
  const std::vector<Versions>& lists() const { return lists_; }
  // The lists themselves, for the rebuild's in-place sort and merge; keys
  // must not be changed through it.
  std::vector<Versions>& mutableLists() { return lists_; }

  bool operator==(const VersionMap& other) const { return lists_ == other.lists_; }

 private:
  std::uint32_t slotOf(std::uint64_t key) const {
    if (!buckets_.allocated()) return 0;
    for (std::uint32_t at = buckets_[bucketOf(key, bucketCount_)]; at != 0; at = chain_[at - 1])
      if (lists_[at - 1].key == key) return at;
    return 0;
  }
  void relink() {
    chain_.assign(lists_.size(), 0);
    buckets_ = BucketArray();
    if (lists_.empty()) return;
    buckets_ = BucketArray(bucketCount_);
    for (std::uint32_t i = 0; i < lists_.size(); ++i) {
      const std::uint32_t b = bucketOf(lists_[i].key, bucketCount_);
      chain_[i] = buckets_[b];
      buckets_[b] = i + 1;
    }
  }

  std::vector<Versions> lists_;
  std::vector<std::uint32_t> chain_;  // per list: the next list number in its bucket
  BucketArray buckets_;
  std::uint32_t bucketCount_;
};

// Bucket counts of the file-wide maps.
inline constexpr std::uint32_t kBlockIndexBuckets = 3'499'999;
inline constexpr std::uint32_t kNodeIndexBuckets = 1'889'999;
inline constexpr std::uint32_t kBlockDuplicateBuckets = 1'199'999;
inline constexpr std::uint32_t kNodeDuplicateBuckets = 199'999;
inline constexpr std::uint32_t kLeafPageMapBuckets = 1'199'999;
inline constexpr std::uint32_t kPageMapBuckets = 199'999;

using BlockIndex = VersionMap<BlockEntry, ~std::uint64_t{1}, kBlockIndexBuckets>;
using PageMap = VersionMap<PageEntry, ~std::uint64_t{0}, kPageMapBuckets>;
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
  ScanResults() { bbtPages[0] = PageMap(kLeafPageMapBuckets), nbtPages[0] = PageMap(kLeafPageMapBuckets); }

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
