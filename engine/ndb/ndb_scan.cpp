#include "engine/ndb/ndb_scan.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "engine/ndb/ndb_checks.h"
#include "engine/ndb/ndb_crypto.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexl {

namespace {

// Positions per chunk; each chunk is read with one request (plus the bytes
// the last position needs).
constexpr std::uint32_t kChunkPositions = 4u << 20;
// Zeroed bytes kept after the data so that the vector filters may load past
// its end; every candidate is bounds-checked exactly afterwards.
constexpr std::uint32_t kSlack = 1024;
// Below this many positions a chunk is not split between threads.
constexpr std::uint64_t kParallelMinimum = 256u << 10;

struct BlockHit {
  std::uint64_t position;
  std::uint64_t bid;
  std::uint32_t allocatedSize;
  std::uint32_t crc;
  std::uint16_t cb;
  std::uint16_t wSig;
  std::uint16_t trimmed;
  bool zero;
};

struct PageHit {
  std::uint64_t position;
  std::uint64_t bid;
  std::uint16_t wSig;
  std::uint16_t trimmed;
  std::uint8_t ptype;
  std::uint8_t level;
};

struct HeaderHit {
  std::uint64_t position;
  std::uint16_t trimmed;
};

// The bytes of one chunk: `data` holds the file bytes from `base` to `end`.
struct ChunkView {
  const unsigned char* data;
  std::uint64_t base;
  std::uint64_t end;
  const unsigned char* at(std::uint64_t position) const { return data + (position - base); }
};

// Calls f(i) for every i in [0, count) whose 16-lane filter `maskAt(i)`
// sets bit k for candidate i + k; `scalar(i)` filters the tail.
template <typename MaskAt, typename Scalar, typename F>
void forCandidates(std::uint64_t count, MaskAt maskAt, Scalar scalar, F f) {
  std::uint64_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= count; i += 16) {
    unsigned mask = maskAt(i);
    while (mask != 0) {
      const unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
      mask &= mask - 1;
      f(i + k);
    }
  }
#else
  (void)maskAt;
#endif
  for (; i < count; ++i)
    if (scalar(i)) f(i);
}

#if defined(__SSE2__)
inline __m128i load16(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
#endif

// Positions in [lo, hi) where a BBT or NBT page of `layout` starts.
void findPages(const NdbLayout& layout, const ChunkView& view, std::uint64_t lo, std::uint64_t hi, bool wantTrim,
               std::vector<PageHit>& out) {
  if (view.end < layout.pageSize) return;
  hi = std::min(hi, view.end - layout.pageSize + 1);
  if (hi <= lo) return;
  const unsigned char* type = view.at(lo) + layout.ptypeOffset;
  const unsigned char* repeat = view.at(lo) + layout.ptypeRepeatOffset;
  auto check = [&](std::uint64_t i) {
    const std::uint64_t p = lo + i;
    const unsigned char* b = view.at(p);
    if (!ndbcheck::pageFieldsValid(layout, b)) return;
    if (loadLe32(b + layout.pageCrcOffset) != ndbcrypt::crc(0, b, layout.pageCrcLength)) return;
    out.push_back(PageHit{p, loadRef(layout, b + layout.pageBidOffset), loadLe16(b + layout.pageSigOffset),
                          static_cast<std::uint16_t>(wantTrim ? ndbcheck::trimmedLength(b, layout.fastStepPage) : 0),
                          b[layout.ptypeOffset], b[layout.cLevelOffset]});
  };
  forCandidates(
      hi - lo,
      [&](std::uint64_t i) -> unsigned {
#if defined(__SSE2__)
        const __m128i t = load16(type + i);
        const __m128i r = load16(repeat + i);
        const __m128i isType = _mm_cmpeq_epi8(_mm_and_si128(t, _mm_set1_epi8(static_cast<char>(0xFE))),
                                              _mm_set1_epi8(static_cast<char>(0x80)));
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(isType, _mm_cmpeq_epi8(t, r))));
#else
        (void)i;
        return 0;
#endif
      },
      [&](std::uint64_t i) { return (type[i] & 0xFE) == 0x80 && repeat[i] == type[i]; }, check);
}

// Positions in [lo, hi) where a HEADER of `layout` starts.
void findHeaders(const NdbLayout& layout, const ChunkView& view, std::uint64_t lo, std::uint64_t hi, bool wantTrim,
                 std::vector<HeaderHit>& out) {
  if (view.end < layout.headerKeptSize) return;
  hi = std::min(hi, view.end - layout.headerKeptSize + 1);
  if (hi <= lo) return;
  const unsigned char* b0 = view.at(lo);
  auto check = [&](std::uint64_t i) {
    const unsigned char* b = b0 + i;
    if (!ndbcheck::isHeader(layout, b, layout.headerKeptSize)) return;
    out.push_back(HeaderHit{
        lo + i, static_cast<std::uint16_t>(wantTrim ? ndbcheck::trimmedLength(b, layout.fastStepHeader) : 0)});
  };
  forCandidates(
      hi - lo,
      [&](std::uint64_t i) -> unsigned {
#if defined(__SSE2__)
        const __m128i m0 = _mm_cmpeq_epi8(load16(b0 + i), _mm_set1_epi8('!'));
        const __m128i m1 = _mm_cmpeq_epi8(load16(b0 + i + 1), _mm_set1_epi8('B'));
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(m0, m1)));
#else
        (void)i;
        return 0;
#endif
      },
      [&](std::uint64_t i) { return b0[i] == '!' && b0[i + 1] == 'B'; }, check);
}

// Blocks starting at positions in [lo, hi): every trailer end Q with
// lo < Q <= min(hi - 1 + span, end) is one candidate, whose start is Q
// minus the allocated size its cb implies.
class BlockFinder {
 public:
  void run(const NdbLayout& layout, const ChunkView& view, std::uint64_t lo, std::uint64_t hi, bool wantTrim,
           std::vector<BlockHit>& out) {
    const std::uint64_t spanEnd = std::min(view.end, hi - 1 + layout.maxBlockSpan);
    if (spanEnd < lo + 64) return;
    // Prefix states from lo, every 8 bytes.
    const std::uint64_t groups = (spanEnd - lo) / 8;
    states_.resize(groups + 1);
    ndbcrypt::prefixStates8(0, view.at(lo), groups, states_.data());

    const std::uint32_t t = layout.trailerSize;
    const std::uint32_t maxCb = layout.maxTrailerCb();
    const std::uint32_t* zeroRun = ndbcrypt::zeroRunTable();
    const std::uint64_t firstTrailer = lo + 64 - t;
    const std::uint64_t lastTrailer = spanEnd - t;
    const unsigned char* tb = view.at(firstTrailer);

    auto stateAt = [&](std::uint64_t x) {
      const std::uint64_t rel = x - lo;
      const std::uint64_t rest = rel & 7;
      return ndbcrypt::crcBytewise(states_[rel >> 3], view.at(x - rest), rest);
    };
    auto check = [&](std::uint64_t i) {
      const unsigned char* tr = tb + i;
      const std::uint32_t cb = loadLe16(tr + layout.trailerCbOffset);
      if (cb == 0 || cb > maxCb) return;
      const std::uint64_t q = firstTrailer + i + t;
      const std::uint32_t e = layout.allocatedSize(cb);
      if (q < lo + e) return;
      const std::uint64_t p = q - e;
      if (p >= hi) return;
      const std::uint64_t bid = loadRef(layout, tr + layout.trailerBidOffset);
      if (bid == 0 || (bid & 1) != 0) return;
      const unsigned char* start = view.at(p);
      if ((bid & 2) != 0 && (cb < 4 || (start[0] != 1 && start[0] != 2))) return;
      const std::uint32_t crc = loadLe32(tr + layout.trailerCrcOffset);
      if ((stateAt(p + cb) ^ ndbcrypt::multiplyMod(zeroRun[cb], stateAt(p))) != crc) return;
      const bool zero = crc == 0 && ndbcheck::trimmedLength(start, cb) == 0;
      out.push_back(BlockHit{p, bid, e, crc, static_cast<std::uint16_t>(cb), loadLe16(tr + layout.trailerSigOffset),
                             static_cast<std::uint16_t>(wantTrim ? ndbcheck::trimmedLength(start, cb) : 0), zero});
    };
    const std::uint32_t bidLow = layout.trailerBidOffset;
    const std::uint32_t cbLow = layout.trailerCbOffset;
    const auto hiMax = static_cast<unsigned char>(maxCb >> 8);
    forCandidates(
        lastTrailer - firstTrailer + 1,
        [&](std::uint64_t i) -> unsigned {
#if defined(__SSE2__)
          const __m128i lowByte = load16(tb + i + cbLow);
          const __m128i highByte = load16(tb + i + cbLow + 1);
          const __m128i bidByte = load16(tb + i + bidLow);
          const __m128i zero = _mm_setzero_si128();
          const __m128i highOk =
              _mm_cmpeq_epi8(_mm_min_epu8(highByte, _mm_set1_epi8(static_cast<char>(hiMax))), highByte);
          const __m128i cbZero = _mm_cmpeq_epi8(_mm_or_si128(lowByte, highByte), zero);
          const __m128i even = _mm_cmpeq_epi8(_mm_and_si128(bidByte, _mm_set1_epi8(1)), zero);
          return static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(cbZero, _mm_and_si128(highOk, even))));
#else
          (void)i;
          return 0;
#endif
        },
        [&](std::uint64_t i) {
          const unsigned char* tr = tb + i;
          return tr[cbLow + 1] <= hiMax && (tr[cbLow] | tr[cbLow + 1]) != 0 && (tr[bidLow] & 1) == 0;
        },
        check);
    std::sort(out.begin(), out.end(), [](const BlockHit& a, const BlockHit& b) {
      return a.position != b.position ? a.position < b.position : a.allocatedSize < b.allocatedSize;
    });
  }

 private:
  std::vector<std::uint32_t> states_;
};

// The events of the one-position walk (see ndb_scan.h).
class Walker {
 public:
  Walker(ScanSource& source, std::uint8_t startPercent, std::uint32_t divisor)
      : source_(source), length_(source.length()), startPercent_(startPercent), divisor_(divisor) {}

  // After the position p, with the next position v. False: stop.
  bool after(std::uint64_t p, std::uint64_t v) {
    bool reported = false;
    if (length_ != 0 && v - lastReport_ >= kProgressInterval) {
      source_.progress(ndbcheck::progressValue(startPercent_, v, length_, divisor_), v);
      lastReport_ = v;
      reported = true;
    }
    if (reported || (v >> kAbortUnitShift) != (p >> kAbortUnitShift)) return !source_.queryAbort(v);
    return true;
  }

  // The positions from..to-1 visited one by one with nothing found. False:
  // stopped, with `stop` the position reached.
  bool plain(std::uint64_t from, std::uint64_t to, std::uint64_t& stop) {
    std::uint64_t p = from;
    while (p < to) {
      const std::uint64_t unit = ((p >> kAbortUnitShift) + 1) << kAbortUnitShift;
      const std::uint64_t report =
          length_ != 0 ? lastReport_ + kProgressInterval : std::numeric_limits<std::uint64_t>::max();
      const std::uint64_t v = std::min(unit, report);
      if (v > to) break;
      if (!after(v - 1, v)) {
        stop = v;
        return false;
      }
      p = v;
    }
    return true;
  }

 private:
  ScanSource& source_;
  std::uint64_t length_;
  std::uint8_t startPercent_;
  std::uint32_t divisor_;
  std::uint64_t lastReport_ = 0;
};

// Runs a(…) here and b(…) on a second thread when the range is large.
template <typename Work>
void splitRange(std::uint64_t lo, std::uint64_t hi, Work work) {
  if (hi - lo < kParallelMinimum) {
    work(0, lo, hi);
    return;
  }
  const std::uint64_t mid = lo + (hi - lo) / 2;
  std::thread second([&] { work(1, mid, hi); });
  work(0, lo, mid);
  second.join();
}

template <typename T>
void concatInto(std::vector<T>& first, const std::vector<T>& second) {
  first.insert(first.end(), second.begin(), second.end());
}

class ChunkBuffer {
 public:
  explicit ChunkBuffer(std::uint32_t capacity) : bytes_(static_cast<std::size_t>(capacity) + kSlack), capacity_(capacity) {}
  // Reads up to the capacity at `offset`; the view ends where the data does.
  ChunkView read(ScanSource& source, std::uint64_t offset, std::uint32_t& got) {
    got = source.readAt(offset, bytes_.data(), capacity_);
    if (got > capacity_) got = capacity_;
    std::memset(bytes_.data() + got, 0, kSlack);
    return ChunkView{bytes_.data(), offset, offset + got};
  }
  std::uint32_t capacity() const { return capacity_; }

 private:
  std::vector<unsigned char> bytes_;
  std::uint32_t capacity_;
};

}  // namespace

void scanNdbFile(const NdbLayout& layout, ScanSource& source, const ScanOptions& options,
                 std::uint8_t startPercent, std::uint32_t divisor, const NdbFormat* owner,
                 ScanResults& results) {
  results.clear();
  Walker walker(source, startPercent, divisor);
  std::uint64_t cur = 0;
  if (source.queryAbort(0)) {
    results.aborted = true;
    source.finished(0);
    return;
  }
  ChunkBuffer buffer(kChunkPositions + kScanReadSize);
  BlockFinder finders[2];
  std::vector<BlockHit> blocks[2];
  std::vector<PageHit> pages[2];
  std::vector<HeaderHit> headers[2];
  const bool fast = options.fastRecovery;

  for (;;) {
    const std::uint64_t lo = cur;
    std::uint32_t got = 0;
    const ChunkView view = buffer.read(source, lo, got);
    if (got < 64) break;
    const bool atEnd = got < buffer.capacity();
    const std::uint64_t hi = atEnd ? view.end - 63 : lo + kChunkPositions;
    const bool wantHeaders = !results.header.has_value();

    for (int k = 0; k < 2; ++k) {
      blocks[k].clear();
      pages[k].clear();
      headers[k].clear();
    }
    splitRange(lo, hi, [&](int k, std::uint64_t from, std::uint64_t to) {
      finders[k].run(layout, view, from, to, fast, blocks[k]);
      findPages(layout, view, from, to, fast, pages[k]);
      if (wantHeaders) findHeaders(layout, view, from, to, fast, headers[k]);
    });
    concatInto(blocks[0], blocks[1]);
    concatInto(pages[0], pages[1]);
    concatInto(headers[0], headers[1]);

    // Walk the chunk's positions in order.
    const auto& bh = blocks[0];
    const auto& ph = pages[0];
    const auto& hh = headers[0];
    std::size_t bi = 0, pi = 0, hi2 = 0;
    std::uint64_t stop = 0;
    for (;;) {
      while (bi < bh.size() && bh[bi].position < cur) ++bi;
      while (pi < ph.size() && ph[pi].position < cur) ++pi;
      while (hi2 < hh.size() && hh[hi2].position < cur) ++hi2;
      std::uint64_t h = std::numeric_limits<std::uint64_t>::max();
      if (bi < bh.size()) h = std::min(h, bh[bi].position);
      if (pi < ph.size()) h = std::min(h, ph[pi].position);
      if (hi2 < hh.size() && !results.header) h = std::min(h, hh[hi2].position);
      if (h >= hi) break;
      if (!walker.plain(cur, h, stop)) {
        results.aborted = true;
        results.stopPosition = stop;
        source.finished(stop);
        return;
      }
      std::uint64_t step = 1;
      for (; bi < bh.size() && bh[bi].position == h; ++bi) {
        const BlockHit& b = bh[bi];
        if (b.zero && options.ignoreZeroBlock) continue;
        BlockEntry entry;
        entry.format = owner;
        entry.bid = b.bid;
        entry.offset = b.position;
        entry.allocatedSize = b.allocatedSize;
        entry.cb = b.cb;
        entry.wSig = b.wSig;
        entry.dwCRC = b.crc;
        entry.zero = b.zero;
        results.blocks.append(b.bid, entry);
        if (fast) step = std::max<std::uint64_t>(1, b.trimmed);
      }
      if (pi < ph.size() && ph[pi].position == h) {
        const PageHit& pg = ph[pi++];
        PageMaps& maps = pg.ptype == kPageTypeBbt ? results.bbtPages : results.nbtPages;
        maps[pg.level].append(pg.bid, PageEntry{pg.position, pg.wSig});
        if (fast) step = std::max<std::uint64_t>(1, pg.trimmed);
      }
      if (hi2 < hh.size() && hh[hi2].position == h && !results.header) {
        results.header = KeptHeader{h, std::vector<unsigned char>(view.at(h), view.at(h) + layout.headerKeptSize)};
        if (fast) step = std::max<std::uint64_t>(1, hh[hi2].trimmed);
        ++hi2;
      }
      const std::uint64_t v = h + step;
      if (!walker.after(h, v)) {
        results.aborted = true;
        results.stopPosition = v;
        source.finished(v);
        return;
      }
      cur = v;
    }
    if (cur < hi) {
      if (!walker.plain(cur, hi, stop)) {
        results.aborted = true;
        results.stopPosition = stop;
        source.finished(stop);
        return;
      }
      cur = hi;
    }
    if (atEnd) break;
  }
  results.stopPosition = cur;
  source.finished(cur);
}

VariantCounts countVariantPages(ScanSource& source, std::uint8_t startPercent, std::uint32_t divisor) {
  VariantCounts counts;
  Walker walker(source, startPercent, divisor);
  if (source.queryAbort(0)) {
    counts.aborted = true;
    source.finished(0);
    return counts;
  }
  ChunkBuffer buffer(kChunkPositions + kDecisionReadSize);
  std::vector<PageHit> ansi[2], unicode[2];
  std::vector<HeaderHit> headers[2];
  std::uint64_t cur = 0;
  for (;;) {
    const std::uint64_t lo = cur;
    std::uint32_t got = 0;
    const ChunkView view = buffer.read(source, lo, got);
    if (got < kDecisionMinimum) break;
    const bool atEnd = got < buffer.capacity();
    const std::uint64_t hi = atEnd ? view.end - (kDecisionMinimum - 1) : lo + kChunkPositions;
    const bool wantHeader = !counts.unicodeHeader;
    for (int k = 0; k < 2; ++k) {
      ansi[k].clear();
      unicode[k].clear();
      headers[k].clear();
    }
    splitRange(lo, hi, [&](int k, std::uint64_t from, std::uint64_t to) {
      findPages(kAnsiLayout, view, from, to, false, ansi[k]);
      findPages(kUnicodeLayout, view, from, to, false, unicode[k]);
      if (wantHeader) findHeaders(kUnicodeLayout, view, from, to, false, headers[k]);
    });
    concatInto(ansi[0], ansi[1]);
    concatInto(unicode[0], unicode[1]);
    concatInto(headers[0], headers[1]);

    std::size_t ai = 0, ui = 0, hi2 = 0;
    std::uint64_t stop = 0;
    for (;;) {
      std::uint64_t h = std::numeric_limits<std::uint64_t>::max();
      if (ai < ansi[0].size()) h = std::min(h, ansi[0][ai].position);
      if (ui < unicode[0].size()) h = std::min(h, unicode[0][ui].position);
      if (hi2 < headers[0].size() && !counts.unicodeHeader) h = std::min(h, headers[0][hi2].position);
      if (h >= hi) break;
      if (!walker.plain(cur, h, stop)) {
        counts.aborted = true;
        counts.stopPosition = stop;
        source.finished(stop);
        return counts;
      }
      if (ai < ansi[0].size() && ansi[0][ai].position == h) {
        ++counts.ansiPages;
        ++ai;
      }
      if (ui < unicode[0].size() && unicode[0][ui].position == h) {
        ++counts.unicodePages;
        ++ui;
      }
      if (hi2 < headers[0].size() && headers[0][hi2].position == h) {
        counts.unicodeHeader = true;
        ++hi2;
      }
      cur = h + 1;
      if (!walker.after(h, cur)) {
        counts.aborted = true;
        counts.stopPosition = cur;
        source.finished(cur);
        return counts;
      }
    }
    if (cur < hi) {
      if (!walker.plain(cur, hi, stop)) {
        counts.aborted = true;
        counts.stopPosition = stop;
        source.finished(stop);
        return counts;
      }
      cur = hi;
    }
    if (atEnd) break;
  }
  counts.stopPosition = cur;
  source.finished(cur);
  return counts;
}

}  // namespace vexl
