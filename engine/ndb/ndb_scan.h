// The whole-file scan and the variant decision over a ScanSource.
//
// Both look at every byte position P of the file and give exactly the
// results of stepping one position at a time (reading 8192 bytes at P for
// the scan, 531 for the decision, and testing every structure that could
// start there). They get there by reading the file in large chunks and
// finding candidates by cheap byte filters:
//  - a block trailer fixes its own allocated size (cb), so each possible
//    trailer end is one candidate block, whose start follows from cb;
//  - CRCs of candidate blocks come from prefix states made in one pass: the
//    CRC of any span combines the states at its two ends (16-byte fold
//    states and carry-less multiplies where the processor has them, 32-bit
//    CRC states every 8 bytes elsewhere);
//  - pages and HEADERs are found by their ptype bytes and magic first;
//  - the candidates of a chunk are generated on two threads, then walked in
//    file order, applying the FastRecovery step and emitting progress
//    reports and abort queries at the positions the one-byte walk has them.
//
// Progress and abort: after the position P, with the next position V, a
// progress report is made when the file length is not 0 and V is at least
// 65536 past the last report; the abort query is made after every report
// and whenever V lies in a later 4 KiB unit (V / 4096 > P / 4096) than P.
// One more query comes before the first position. A stop thus ends the
// scan within 4 KiB of where it was asked for.
#pragma once

#include <cstdint>

#include "engine/ndb/ndb_layout.h"
#include "engine/ndb/ndb_records.h"

namespace vexl {

// What a scan reads from and reports to.
class ScanSource {
 public:
  virtual ~ScanSource() = default;
  // The file length used for the progress values.
  virtual std::uint64_t length() = 0;
  // Up to `count` bytes at `offset`; fewer only at the end of the file.
  virtual std::uint32_t readAt(std::uint64_t offset, void* buffer, std::uint32_t count) = 0;
  // A progress report made when the walk reached `position`.
  virtual void progress(std::uint8_t percent, std::uint64_t position) = 0;
  // The abort query made when the walk reached `position`; true stops.
  virtual bool queryAbort(std::uint64_t position) = 0;
  // The loop ended at `position` (the file is left positioned there).
  virtual void finished(std::uint64_t /*position*/) {}
};

struct ScanOptions {
  bool fastRecovery = false;
  bool ignoreZeroBlock = false;
};

inline constexpr std::uint32_t kScanReadSize = 8192;
inline constexpr std::uint32_t kDecisionReadSize = 531;
inline constexpr std::uint32_t kDecisionMinimum = 479;
inline constexpr std::uint64_t kProgressInterval = 65536;
inline constexpr unsigned kAbortUnitShift = 12;  // 4 KiB

// How the scans cut the file into work: chunk (one read) and piece (one
// thread's task) sizes, and the smallest chunk searched on two threads.
// Results never depend on these; tests shrink them to cross many chunk and
// piece boundaries in small files.
struct ScanTuning {
  std::uint32_t chunkPositions;
  std::uint32_t piecePositions;
  std::uint64_t parallelMinimum;
};
ScanTuning& scanTuning();

// The scan. `owner` goes into every BlockEntry. `results` is replaced.
void scanNdbFile(const NdbLayout& layout, ScanSource& source, const ScanOptions& options,
                 std::uint8_t startPercent, std::uint32_t divisor, const NdbFormat* owner,
                 ScanResults& results);

// The decision's counts over the whole file (ANSI and Unicode pages, the
// first valid Unicode HEADER).
VariantCounts countVariantPages(ScanSource& source, std::uint8_t startPercent, std::uint32_t divisor);

}  // namespace vexl
