// Test support: an in-memory ScanSource that records every report, and a
// builder that writes valid NDB structures (blocks, pages, HEADERs) into a
// byte image at any offset.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/ndb/ndb_layout.h"
#include "engine/ndb/ndb_records.h"
#include "engine/ndb/ndb_scan.h"

namespace vexl::testing {

struct ScanEvent {
  enum Kind { Progress, Query } kind;
  std::uint32_t value;  // percent, or the query's answer
  std::uint64_t position;
  bool operator==(const ScanEvent&) const = default;
};

class MemorySource final : public ScanSource {
 public:
  explicit MemorySource(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
  // The query with this 1-based number answers stop (0: never).
  std::uint32_t stopAtQuery = 0;
  std::vector<ScanEvent> events;
  std::uint64_t finishedAt = ~std::uint64_t{0};
  std::uint64_t bytesRead = 0;
  // Reads end here (a file shorter than its reported length).
  std::uint64_t reportedLength = ~std::uint64_t{0};

  std::uint64_t length() override { return reportedLength != ~std::uint64_t{0} ? reportedLength : bytes_.size(); }
  std::uint32_t readAt(std::uint64_t offset, void* buffer, std::uint32_t count) override;
  void progress(std::uint8_t percent, std::uint64_t position) override {
    events.push_back({ScanEvent::Progress, percent, position});
  }
  bool queryAbort(std::uint64_t position) override {
    ++queries_;
    const bool stop = stopAtQuery != 0 && queries_ >= stopAtQuery;
    events.push_back({ScanEvent::Query, stop ? 1u : 0u, position});
    return stop;
  }
  void finished(std::uint64_t position) override { finishedAt = position; }
  std::uint32_t queries() const { return queries_; }

 private:
  const std::vector<unsigned char>& bytes_;
  std::uint32_t queries_ = 0;
};

// Writes structures into `image`, growing it as needed.
class NdbImage {
 public:
  explicit NdbImage(const NdbLayout& layout) : layout_(layout) {}
  std::vector<unsigned char> bytes;

  // A block: payload at `offset`, its trailer at the end of the allocated size.
  void putBlock(std::uint64_t offset, std::uint64_t bid, const std::vector<unsigned char>& payload,
                std::uint16_t wSig = 0);
  // Seals whatever bytes lie at [offset, offset + cb) as a block of `cb`
  // bytes: writes only the trailer.
  void sealBlock(std::uint64_t offset, std::uint32_t cb, std::uint64_t bid, std::uint16_t wSig = 0);
  // A valid BBT/NBT page; entries are random bytes.
  void putPage(std::uint64_t offset, std::uint8_t ptype, std::uint8_t level, std::uint8_t cEnt, std::uint64_t bid,
               std::uint16_t wSig, std::mt19937_64& rng);
  // A valid HEADER with random contents apart from the magic and CRC.
  void putHeader(std::uint64_t offset, std::mt19937_64& rng, BlockRef nbt = {}, BlockRef bbt = {});
  // Recomputes the CRC of the page / HEADER at `offset` after an edit.
  void resealPage(std::uint64_t offset);
  void resealHeader(std::uint64_t offset);

  void ensure(std::uint64_t size) {
    if (bytes.size() < size) bytes.resize(size);
  }
  void put16(std::uint64_t at, std::uint16_t v);
  void put32(std::uint64_t at, std::uint32_t v);
  void putRef(std::uint64_t at, std::uint64_t v);

 private:
  const NdbLayout& layout_;
};

// A random file with random structures at random offsets (aligned or not),
// duplicates, zero blocks, blocks nested in blocks, noise and a random end.
std::vector<unsigned char> randomNdbFile(const NdbLayout& layout, std::uint64_t seed, std::size_t maxSize);

// The first difference between two scans, or "" when equal.
std::string describeDifference(const ScanResults& a, const ScanResults& b);

}  // namespace vexl::testing
