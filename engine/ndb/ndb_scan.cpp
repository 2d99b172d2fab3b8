#include "engine/ndb/ndb_scan.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "engine/ndb/ndb_checks.h"
#include "engine/ndb/ndb_crypto.h"
#include "engine/ndb/ndb_scan_simd.h"


namespace vexl {

namespace {

// Positions per chunk of the scan; each chunk is read with one request.
constexpr std::uint32_t kChunkPositions = 4u << 20;
// Zeroed bytes kept after the data so that the vector filters may load past
// its end; every candidate is bounds-checked exactly afterwards.
constexpr std::uint32_t kSlack = 1024;
// Positions per piece of a chunk; the two threads take pieces in turn.
constexpr std::uint32_t kPiecePositions = 256u << 10;
// Below this many positions a chunk is searched on one thread.
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

// Positions a filter batch covers; the index buffers hold one batch.
constexpr std::uint64_t kBatch = 8192;

// An index buffer for one batch, left uninitialised.
class IndexBuffer {
 public:
  std::uint32_t* data() {
    if (!bytes_) bytes_.reset(new std::uint32_t[kBatch + 64]);
    return bytes_.get();
  }

 private:
  std::unique_ptr<std::uint32_t[]> bytes_;
};

// Calls check(i) for the i in [0, count) that filter(offset, n, out) lets
// through, batch by batch.
template <typename Filter, typename Check>
void forFiltered(std::uint64_t count, IndexBuffer& buffer, Filter filter, Check check) {
  std::uint32_t* idx = buffer.data();
  for (std::uint64_t from = 0; from < count; from += kBatch) {
    const std::uint64_t n = std::min(kBatch, count - from);
    const std::size_t found = filter(from, static_cast<std::size_t>(n), idx);
    for (std::size_t k = 0; k < found; ++k) check(from + idx[k]);
  }
}

// Positions in [lo, hi) where a BBT or NBT page of `layout` starts.
void findPages(const NdbLayout& layout, const ChunkView& view, std::uint64_t lo, std::uint64_t hi, bool wantTrim,
               IndexBuffer& buffer, std::vector<PageHit>& out) {
  if (view.end < layout.pageSize) return;
  hi = std::min(hi, view.end - layout.pageSize + 1);
  if (hi <= lo) return;
  const unsigned char* type = view.at(lo) + layout.ptypeOffset;
  const unsigned char* repeat = view.at(lo) + layout.ptypeRepeatOffset;
  forFiltered(
      hi - lo, buffer,
      [&](std::uint64_t from, std::size_t n, std::uint32_t* idx) {
        return scansimd::pageTypeCandidates(type + from, repeat + from, n, idx);
      },
      [&](std::uint64_t i) {
        const std::uint64_t p = lo + i;
        const unsigned char* b = view.at(p);
        if (!ndbcheck::pageFieldsValid(layout, b)) return;
        if (loadLe32(b + layout.pageCrcOffset) != scansimd::crc(b, layout.pageCrcLength)) return;
        out.push_back(PageHit{p, loadRef(layout, b + layout.pageBidOffset), loadLe16(b + layout.pageSigOffset),
                              static_cast<std::uint16_t>(wantTrim ? ndbcheck::trimmedLength(b, layout.fastStepPage) : 0),
                              b[layout.ptypeOffset], b[layout.cLevelOffset]});
      });
}

// Positions in [lo, hi) where a HEADER of `layout` starts.
void findHeaders(const NdbLayout& layout, const ChunkView& view, std::uint64_t lo, std::uint64_t hi, bool wantTrim,
                 IndexBuffer& buffer, std::vector<HeaderHit>& out) {
  if (view.end < layout.headerKeptSize) return;
  hi = std::min(hi, view.end - layout.headerKeptSize + 1);
  if (hi <= lo) return;
  const unsigned char* b0 = view.at(lo);
  forFiltered(
      hi - lo, buffer,
      [&](std::uint64_t from, std::size_t n, std::uint32_t* idx) {
        return scansimd::headerCandidates(b0 + from, n, idx);
      },
      [&](std::uint64_t i) {
        const unsigned char* b = b0 + i;
        if (!ndbcheck::isHeader(layout, b, layout.headerKeptSize)) return;
        out.push_back(HeaderHit{
            lo + i, static_cast<std::uint16_t>(wantTrim ? ndbcheck::trimmedLength(b, layout.fastStepHeader) : 0)});
      });
}

// The block test's field checks after the first filter: writes the idx[k]
// whose trailer, at trailers + idx[k] and ending reach + idx[k] bytes past
// `starts`, has 1 <= cb <= the largest cb, a block start in [0, positions)
// past `starts`, a bid other than 0, and, for an internal bid (bit 1), cb of
// at least 4 and a btype of 1 or 2 at the start. Branch-free, since the
// outcomes are unpredictable; the verdicts go to `passes` first, so that no
// load waits for the count of those before it. kFixed, when given, is
// `layout` as a constant, which keeps the loop's values in registers.
template <const NdbLayout* kFixed>
std::size_t checkTrailersOf(const NdbLayout& layout, const unsigned char* trailers, const unsigned char* starts,
                            std::uint32_t reach, std::uint32_t positions, const std::uint32_t* idx, std::size_t n,
                            unsigned char* passes, std::uint32_t* out) {
  const NdbLayout& l = kFixed != nullptr ? *kFixed : layout;
  const std::uint32_t maxCb = l.maxTrailerCb();
  const std::uint32_t alignMask = l.blockAlignment - 1;
  std::size_t m = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint32_t i = idx[k];
    const unsigned char* tr = trailers + i;
    const std::uint32_t cb = loadLe16(tr + l.trailerCbOffset);
    const std::uint32_t e = (cb + l.trailerSize + alignMask) & ~alignMask;
    const std::uint64_t bid = l.refWidth == 8 ? loadLe64(tr + l.trailerBidOffset) : loadLe32(tr + l.trailerBidOffset);
    const std::uint32_t start = reach + i - e;  // wraps when the block would start before `starts`
    bool ok = (cb - 1u) < maxCb;
    ok &= reach + i >= e;
    ok &= start < positions;
    ok &= bid != 0;
    const unsigned char first = starts[ok ? start : 0];
    const bool typeOk = (cb >= 4) & (static_cast<unsigned char>(first - 1) < 2);
    passes[k] = ok & (((bid & 2) == 0) | typeOk);
  }
  for (std::size_t k = 0; k < n; ++k) {
    out[m] = idx[k];
    m += passes[k];
  }
  return m;
}

std::size_t checkTrailers(const NdbLayout& layout, const unsigned char* trailers, const unsigned char* starts,
                          std::uint32_t reach, std::uint32_t positions, const std::uint32_t* idx, std::size_t n,
                          unsigned char* passes, std::uint32_t* out) {
  if (&layout == &kUnicodeLayout)
    return checkTrailersOf<&kUnicodeLayout>(layout, trailers, starts, reach, positions, idx, n, passes, out);
  if (&layout == &kAnsiLayout)
    return checkTrailersOf<&kAnsiLayout>(layout, trailers, starts, reach, positions, idx, n, passes, out);
  return checkTrailersOf<nullptr>(layout, trailers, starts, reach, positions, idx, n, passes, out);
}

// Blocks starting at positions in [lo, hi): every trailer end Q with
// lo < Q <= min(hi - 1 + span, end) is one candidate, whose start is Q
// minus the allocated size its cb implies. Stages per batch of trailer
// positions, each with few unpredictable branches: a vector filter on the
// cb and bid bytes, the remaining field tests computed without branches,
// the span CRCs of the survivors from the prefix states, combined in one
// batch, and the comparison with the trailers' dwCRC.
class BlockFinder {
 public:
  void run(const NdbLayout& layout, const ChunkView& view, std::uint64_t lo, std::uint64_t hi, bool wantTrim,
           std::vector<BlockHit>& out) {
    const std::uint64_t spanEnd = std::min(view.end, hi - 1 + layout.maxBlockSpan);
    if (spanEnd < lo + 64) return;
    // Prefix states in four interleaved runs: run k starts at bases[k] and
    // serves the blocks starting before bases[k + 1]. With the wide forms
    // the states are fold states every 16 bytes, else CRC states every 8.
    const bool folded = scansimd::wideForms();
    const unsigned stride = folded ? 16 : 8;
    const std::uint64_t quarter = hi - lo >= 4 * layout.maxBlockSpan ? (hi - lo) / 4 : hi - lo;
    std::uint64_t bases[5];
    for (int k = 0; k < 4; ++k) bases[k] = std::min(hi, lo + quarter * static_cast<std::uint64_t>(k));
    bases[4] = hi;
    const unsigned char* starts[4];
    std::size_t groups[4];
    for (int k = 0; k < 4; ++k) {
      const std::uint64_t end =
          bases[k] < bases[k + 1] ? std::min(spanEnd, bases[k + 1] - 1 + layout.maxBlockSpan) : bases[k];
      groups[k] = end > bases[k] ? (end - bases[k]) / stride : 0;
      starts[k] = view.at(std::min(bases[k], spanEnd));
    }
    std::uint32_t* outs[4];
    scansimd::FoldState* foldOuts[4];
    for (int k = 0; k < 4; ++k) {
      if (folded) {
        foldOuts[k] = reserve(foldStates_[k], foldCapacity_[k], groups[k] + 1);
      } else {
        outs[k] = reserve(states_[k], stateCapacity_[k], groups[k] + 1);
      }
    }
    if (folded) {
      scansimd::foldStates(starts, groups, foldOuts);
    } else {
      ndbcrypt::prefixStates8x4(starts, groups, outs);
    }
    const std::uint32_t t = layout.trailerSize;
    const std::uint32_t maxCb = layout.maxTrailerCb();
    const std::uint32_t alignMask = layout.blockAlignment - 1;
    const std::uint32_t cbOffset = layout.trailerCbOffset;
    const std::uint32_t bidOffset = layout.trailerBidOffset;
    const std::uint32_t* zeroRun = ndbcrypt::zeroRunTable();
    const std::uint64_t firstTrailer = lo + 64 - t;
    const std::uint64_t count = spanEnd - t - firstTrailer + 1;
    const unsigned char* tb = view.at(firstTrailer);
    // The trailer at index i ends at lo + 64 + i; its block starts in [lo, hi).
    const auto positions = static_cast<std::uint32_t>(hi - lo);
    const scansimd::TrailerFilter filter{cbOffset, bidOffset, static_cast<unsigned char>(maxCb >> 8)};

    std::uint32_t* candidates = candidates_.data();
    std::uint32_t* survivors = survivors_.data();
    if (!opA_) {
      opA_.reset(new std::uint32_t[kBatch + 64]);
      opB_.reset(new std::uint32_t[kBatch + 64]);
      opX_.reset(new std::uint32_t[kBatch + 64]);
      crcs_.reset(new std::uint32_t[kBatch + 64]);
      spans_.reset(new scansimd::SpanQuery[kBatch + 64]);
      passes_.reset(new unsigned char[kBatch + 64]);
    }
    for (std::uint64_t from = 0; from < count; from += kBatch) {
      const std::uint64_t to = std::min(count, from + kBatch);
      // Stage 1: cb high byte small enough, cb not 0, bid bit 0 clear.
      const std::size_t n = scansimd::trailerCandidates(tb + from, static_cast<std::size_t>(to - from), filter, candidates);
      // Stage 2: the other field tests.
      const std::size_t m = checkTrailers(layout, tb + from, view.at(lo), static_cast<std::uint32_t>(64 + from),
                                          positions, candidates, n, passes_.get(), survivors);
      for (std::size_t k = 0; k < m; ++k) survivors[k] += static_cast<std::uint32_t>(from);
      // Stage 3: the CRCs of the survivors' spans.
      std::uint32_t* crcs = crcs_.get();
      if (folded) {
        scansimd::SpanQuery* spans = spans_.get();
        for (std::size_t k = 0; k < m; ++k) {
          const unsigned char* tr = tb + survivors[k];
          const std::uint32_t cb = loadLe16(tr + cbOffset);
          const std::uint32_t e = (cb + t + alignMask) & ~alignMask;
          const std::uint64_t p = firstTrailer + survivors[k] + t - e;
          const int run = (p >= bases[1]) + (p >= bases[2]) + (p >= bases[3]);
          spans[k] = scansimd::SpanQuery{starts[run], foldOuts[run], static_cast<std::uint32_t>(p - bases[run]), cb};
        }
        scansimd::foldedSpanCrcs(spans, m, crcs);
      } else {
        // CRC of [p, p + cb) = state(p + cb) ^ state(p) * x^(8 cb).
        std::uint32_t* opA = opA_.get();
        std::uint32_t* opB = opB_.get();
        std::uint32_t* opX = opX_.get();
        for (std::size_t k = 0; k < m; ++k) {
          const unsigned char* tr = tb + survivors[k];
          const std::uint32_t cb = loadLe16(tr + cbOffset);
          const std::uint32_t e = (cb + t + alignMask) & ~alignMask;
          const std::uint64_t p = firstTrailer + survivors[k] + t - e;
          const int run = (p >= bases[1]) + (p >= bases[2]) + (p >= bases[3]);
          const std::uint32_t* states = outs[run];
          const std::uint64_t a = p - bases[run], b = a + cb;
          opA[k] = zeroRun[cb];
          opB[k] = ndbcrypt::advanceShort(states[a >> 3], view.at(p - (a & 7)), a & 7);
          opX[k] = ndbcrypt::advanceShort(states[b >> 3], view.at(p + cb - (b & 7)), b & 7);
        }
        scansimd::combineCrcs(opA, opB, opX, crcs, m);
      }
      // Stage 4: the comparison with the trailers' dwCRC.
      for (std::size_t k = 0; k < m; ++k) {
        const unsigned char* tr = tb + survivors[k];
        const std::uint32_t crc = loadLe32(tr + layout.trailerCrcOffset);
        if (crcs[k] != crc) continue;
        const std::uint32_t cb = loadLe16(tr + cbOffset);
        const std::uint32_t e = (cb + t + alignMask) & ~alignMask;
        const std::uint64_t p = firstTrailer + survivors[k] + t - e;
        const unsigned char* start = view.at(p);
        const std::uint32_t trimmed = ndbcheck::trimmedLength(start, cb);
        out.push_back(BlockHit{p, loadRef(layout, tr + bidOffset), e, crc, static_cast<std::uint16_t>(cb),
                               loadLe16(tr + layout.trailerSigOffset),
                               static_cast<std::uint16_t>(wantTrim ? trimmed : 0), crc == 0 && trimmed == 0});
      }
    }
    std::sort(out.begin(), out.end(), [](const BlockHit& a, const BlockHit& b) {
      return a.position != b.position ? a.position < b.position : a.allocatedSize < b.allocatedSize;
    });
  }

  IndexBuffer& indexBuffer() { return pageIndex_; }

 private:
  // Grows `buffer` to hold at least `count` items, left uninitialised.
  template <typename T>
  static T* reserve(std::unique_ptr<T[]>& buffer, std::size_t& capacity, std::size_t count) {
    if (capacity < count) {
      capacity = count;
      buffer.reset(new T[count]);
    }
    return buffer.get();
  }

  std::unique_ptr<std::uint32_t[]> states_[4];
  std::size_t stateCapacity_[4] = {0, 0, 0, 0};
  std::unique_ptr<scansimd::FoldState[]> foldStates_[4];
  std::size_t foldCapacity_[4] = {0, 0, 0, 0};
  IndexBuffer candidates_, survivors_, pageIndex_;
  std::unique_ptr<std::uint32_t[]> opA_, opB_, opX_, crcs_;
  std::unique_ptr<scansimd::SpanQuery[]> spans_;
  std::unique_ptr<unsigned char[]> passes_;
};

// What the search of one piece of a chunk found.
struct Piece {
  std::uint64_t from = 0, to = 0;
  std::vector<BlockHit> blocks;
  std::vector<PageHit> pages;
  std::vector<HeaderHit> headers;
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

// Runs work(0, lo, mid) here and work(1, mid, hi) on a second thread when
// the range is large.
template <typename Work>
void splitRange(std::uint64_t lo, std::uint64_t hi, Work work) {
  if (hi - lo < scanTuning().parallelMinimum) {
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

// Capacities are whole multiples of the source's 64 KiB cache windows, so
// that a chunk is read straight into the buffer.
constexpr std::uint32_t kReadGranule = 65536;

class ChunkBuffer {
 public:
  explicit ChunkBuffer(std::uint32_t atLeast)
      : bytes_(new unsigned char[static_cast<std::size_t>(roundUp(atLeast)) + kSlack]), capacity_(roundUp(atLeast)) {}
  // Reads up to the capacity at `offset`; the view ends where the data does.
  ChunkView read(ScanSource& source, std::uint64_t offset, std::uint32_t& got) {
    got = source.readAt(offset, bytes_.get(), capacity_);
    if (got > capacity_) got = capacity_;
    std::memset(bytes_.get() + got, 0, kSlack);
    return ChunkView{bytes_.get(), offset, offset + got};
  }
  std::uint32_t capacity() const { return capacity_; }

 private:
  static std::uint32_t roundUp(std::uint32_t n) { return (n + kReadGranule - 1) / kReadGranule * kReadGranule; }
  // Left uninitialised: every byte a view shows was read or zeroed.
  std::unique_ptr<unsigned char[]> bytes_;
  std::uint32_t capacity_;
};

}  // namespace

ScanTuning& scanTuning() {
  static ScanTuning tuning{kChunkPositions, kPiecePositions, kParallelMinimum};
  return tuning;
}

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
  // Two buffers: while one chunk is searched, the next is read into the
  // other buffer as one more task of the same two threads. A buffer holds
  // the bytes from its base for kChunkPositions positions, plus what a
  // FastRecovery step past the previous chunk's end and the last position's
  // read need.
  ScanTuning tuning = scanTuning();
  tuning.piecePositions = std::max<std::uint32_t>(tuning.piecePositions, 1024);
  // A chunk holds at least a FastRecovery step's worth of positions.
  const std::uint32_t chunkPositions = std::max(tuning.chunkPositions, 2 * kScanReadSize);
  ChunkBuffer buffers[2] = {ChunkBuffer(chunkPositions + 2 * kScanReadSize),
                            ChunkBuffer(chunkPositions + 2 * kScanReadSize)};
  BlockFinder finders[2];
  // A chunk's positions: at most the buffer's capacity (the last chunk may
  // run up to the end of its data).
  std::vector<Piece> pieces(buffers[0].capacity() / tuning.piecePositions + 1);
  std::vector<BlockHit> blocks;
  std::vector<PageHit> pages;
  std::vector<HeaderHit> headers;
  const bool fast = options.fastRecovery;
  int current = 0;
  std::uint64_t base = 0;
  std::uint32_t got = 0;
  ChunkView view = buffers[0].read(source, 0, got);

  for (;;) {
    const std::uint64_t lo = cur;
    if (view.end < lo + 64) break;
    const bool atEnd = got < buffers[current].capacity();
    const std::uint64_t hi = atEnd ? view.end - 63 : base + chunkPositions;
    const bool wantHeaders = !results.header.has_value();
    const std::uint64_t nextBase = base + chunkPositions;
    std::uint32_t nextGot = 0;
    ChunkView nextView{};

    // Tasks: 0 reads the next chunk, 1.. search one piece each.
    std::size_t pieceCount = 0;
    for (std::uint64_t from = lo; from < hi; from += tuning.piecePositions) {
      Piece& piece = pieces[pieceCount++];
      piece.from = from;
      piece.to = std::min(hi, from + tuning.piecePositions);
      piece.blocks.clear();
      piece.pages.clear();
      piece.headers.clear();
    }
    std::atomic<std::size_t> nextTask{atEnd ? 1u : 0u};
    auto work = [&](int self) {
      for (;;) {
        const std::size_t task = nextTask.fetch_add(1);
        if (task == 0) {
          nextView = buffers[1 - current].read(source, nextBase, nextGot);
          continue;
        }
        if (task > pieceCount) return;
        Piece& piece = pieces[task - 1];
        finders[self].run(layout, view, piece.from, piece.to, fast, piece.blocks);
        IndexBuffer& index = finders[self].indexBuffer();
        findPages(layout, view, piece.from, piece.to, fast, index, piece.pages);
        if (wantHeaders) findHeaders(layout, view, piece.from, piece.to, fast, index, piece.headers);
      }
    };
    if (hi - lo >= tuning.parallelMinimum) {
      std::thread second(work, 1);
      work(0);
      second.join();
    } else {
      work(0);
    }
    blocks.clear();
    pages.clear();
    headers.clear();
    for (std::size_t k = 0; k < pieceCount; ++k) {
      concatInto(blocks, pieces[k].blocks);
      concatInto(pages, pieces[k].pages);
      concatInto(headers, pieces[k].headers);
    }

    // Walk the chunk's positions in order.
    const auto& bh = blocks;
    const auto& ph = pages;
    const auto& hh = headers;
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
    current = 1 - current;
    base = nextBase;
    view = nextView;
    got = nextGot;
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
  const ScanTuning tuning = scanTuning();
  ChunkBuffer buffer(tuning.chunkPositions + kDecisionReadSize);
  std::vector<PageHit> ansi[2], unicode[2];
  std::vector<HeaderHit> headers[2];
  IndexBuffer indexes[2];
  std::uint64_t cur = 0;
  for (;;) {
    const std::uint64_t lo = cur;
    std::uint32_t got = 0;
    const ChunkView view = buffer.read(source, lo, got);
    if (got < kDecisionMinimum) break;
    const bool atEnd = got < buffer.capacity();
    const std::uint64_t hi = atEnd ? view.end - (kDecisionMinimum - 1) : lo + tuning.chunkPositions;
    const bool wantHeader = !counts.unicodeHeader;
    for (int k = 0; k < 2; ++k) {
      ansi[k].clear();
      unicode[k].clear();
      headers[k].clear();
    }
    splitRange(lo, hi, [&](int k, std::uint64_t from, std::uint64_t to) {
      findPages(kAnsiLayout, view, from, to, false, indexes[k], ansi[k]);
      findPages(kUnicodeLayout, view, from, to, false, indexes[k], unicode[k]);
      if (wantHeader) findHeaders(kUnicodeLayout, view, from, to, false, indexes[k], headers[k]);
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
