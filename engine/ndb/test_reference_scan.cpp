#include "engine/ndb/test_reference_scan.h"

#include <algorithm>
#include <vector>

#include "engine/ndb/ndb_checks.h"
#include "engine/ndb/ndb_crypto.h"

namespace vexl::testing {

namespace {

// After the position `p`, with the new position `v`: report and query as
// the scans do. False when the query answered stop.
struct Reporter {
  ScanSource& source;
  std::uint64_t length;
  std::uint8_t startPercent;
  std::uint32_t divisor;
  std::uint64_t lastReport = 0;

  bool after(std::uint64_t p, std::uint64_t v) {
    bool reported = false;
    if (length != 0 && v - lastReport >= kProgressInterval) {
      source.progress(ndbcheck::progressValue(startPercent, v, length, divisor), v);
      lastReport = v;
      reported = true;
    }
    if (reported || (v >> kAbortUnitShift) != (p >> kAbortUnitShift)) return !source.queryAbort(v);
    return true;
  }
};

}  // namespace

void referenceScan(const NdbLayout& layout, ScanSource& source, const ScanOptions& options,
                   std::uint8_t startPercent, std::uint32_t divisor, const NdbFormat* owner,
                   ScanResults& results) {
  results.clear();
  Reporter reporter{source, source.length(), startPercent, divisor};
  std::vector<unsigned char> buffer(kScanReadSize);
  std::uint64_t p = 0;
  bool stop = source.queryAbort(0);
  results.aborted = stop;
  while (!stop) {
    const std::uint32_t n = source.readAt(p, buffer.data(), kScanReadSize);
    if (n < 64) break;
    const unsigned char* b = buffer.data();
    std::uint64_t step = 1;

    for (std::uint32_t e = 64; e <= n / 64 * 64; e += 64) {
      const unsigned char* trailer = b + e - layout.trailerSize;
      const std::uint32_t cb = loadLe16(trailer + layout.trailerCbOffset);
      const std::uint64_t bid = loadRef(layout, trailer + layout.trailerBidOffset);
      if (cb + layout.trailerSize > e) continue;
      if (bid & 1) continue;
      if (cb + layout.trailerSize <= e - 64) continue;
      if (cb == 0) continue;
      if (bid == 0) continue;
      if ((bid & 2) && (cb < 4 || (b[0] != 1 && b[0] != 2))) continue;
      const std::uint32_t crc = loadLe32(trailer + layout.trailerCrcOffset);
      if (ndbcrypt::crcBytewise(0, b, cb) != crc) continue;
      const bool zero = crc == 0 && std::all_of(b, b + cb, [](unsigned char c) { return c == 0; });
      if (zero && options.ignoreZeroBlock) continue;
      BlockEntry entry;
      entry.format = owner;
      entry.bid = bid;
      entry.offset = p;
      entry.allocatedSize = e;
      entry.cb = static_cast<std::uint16_t>(cb);
      entry.wSig = loadLe16(trailer + layout.trailerSigOffset);
      entry.dwCRC = crc;
      entry.zero = zero;
      results.blocks.append(bid, entry);
      if (options.fastRecovery) step = std::max<std::uint64_t>(1, ndbcheck::trimmedLength(b, cb));
    }

    if (n >= 512 && ndbcheck::isBTreePage(layout, b, 512)) {
      const std::uint8_t ptype = b[layout.ptypeOffset];
      const std::uint8_t level = b[layout.cLevelOffset];
      PageMaps& maps = ptype == kPageTypeBbt ? results.bbtPages : results.nbtPages;
      maps[level].append(loadRef(layout, b + layout.pageBidOffset),
                         PageEntry{p, loadLe16(b + layout.pageSigOffset)});
      if (options.fastRecovery)
        step = std::max<std::uint64_t>(1, ndbcheck::trimmedLength(b, layout.fastStepPage));
    }

    if (!results.header && n >= layout.headerKeptSize && ndbcheck::isHeader(layout, b, n)) {
      results.header = KeptHeader{p, std::vector<unsigned char>(b, b + layout.headerKeptSize)};
      if (options.fastRecovery)
        step = std::max<std::uint64_t>(1, ndbcheck::trimmedLength(b, layout.fastStepHeader));
    }

    const std::uint64_t next = p + step;
    if (!reporter.after(p, next)) {
      results.aborted = true;
      stop = true;
    }
    p = next;
  }
  results.stopPosition = p;
  source.finished(p);
}

VariantCounts referenceDecision(ScanSource& source, std::uint8_t startPercent, std::uint32_t divisor) {
  VariantCounts counts;
  Reporter reporter{source, source.length(), startPercent, divisor};
  std::vector<unsigned char> buffer(kDecisionReadSize);
  std::uint64_t p = 0;
  bool stop = source.queryAbort(0);
  counts.aborted = stop;
  while (!stop) {
    const std::uint32_t n = source.readAt(p, buffer.data(), kDecisionReadSize);
    if (n < kDecisionMinimum) break;
    if (n >= 512) {
      if (ndbcheck::isBTreePage(kAnsiLayout, buffer.data(), n)) ++counts.ansiPages;
      if (ndbcheck::isBTreePage(kUnicodeLayout, buffer.data(), n)) ++counts.unicodePages;
    }
    if (!counts.unicodeHeader && ndbcheck::isHeader(kUnicodeLayout, buffer.data(), n)) counts.unicodeHeader = true;
    if (!reporter.after(p, p + 1)) {
      counts.aborted = true;
      stop = true;
    }
    ++p;
  }
  counts.stopPosition = p;
  source.finished(p);
  return counts;
}

}  // namespace vexl::testing
