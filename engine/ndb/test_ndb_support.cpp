#include "engine/ndb/test_ndb_support.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "engine/ndb/ndb_crypto.h"

namespace vexl::testing {

std::uint32_t MemorySource::readAt(std::uint64_t offset, void* buffer, std::uint32_t count) {
  if (offset >= bytes_.size()) return 0;
  const std::uint64_t n = std::min<std::uint64_t>(count, bytes_.size() - offset);
  std::memcpy(buffer, bytes_.data() + offset, n);
  bytesRead += n;
  return static_cast<std::uint32_t>(n);
}

void NdbImage::put16(std::uint64_t at, std::uint16_t v) {
  ensure(at + 2);
  bytes[at] = static_cast<unsigned char>(v);
  bytes[at + 1] = static_cast<unsigned char>(v >> 8);
}

void NdbImage::put32(std::uint64_t at, std::uint32_t v) {
  ensure(at + 4);
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

void NdbImage::putRef(std::uint64_t at, std::uint64_t v) {
  ensure(at + layout_.refWidth);
  for (std::uint32_t i = 0; i < layout_.refWidth; ++i) bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

void NdbImage::sealBlock(std::uint64_t offset, std::uint32_t cb, std::uint64_t bid, std::uint16_t wSig) {
  const std::uint32_t e = layout_.allocatedSize(cb);
  ensure(offset + e);
  const std::uint64_t trailer = offset + e - layout_.trailerSize;
  const std::uint32_t crc = ndbcrypt::crcBytewise(0, bytes.data() + offset, cb);
  put16(trailer + layout_.trailerCbOffset, static_cast<std::uint16_t>(cb));
  put16(trailer + layout_.trailerSigOffset, wSig);
  putRef(trailer + layout_.trailerBidOffset, bid);
  put32(trailer + layout_.trailerCrcOffset, crc);
}

void NdbImage::putBlock(std::uint64_t offset, std::uint64_t bid, const std::vector<unsigned char>& payload,
                        std::uint16_t wSig) {
  ensure(offset + layout_.allocatedSize(static_cast<std::uint32_t>(payload.size())));
  std::copy(payload.begin(), payload.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
  sealBlock(offset, static_cast<std::uint32_t>(payload.size()), bid, wSig);
}

void NdbImage::resealPage(std::uint64_t offset) {
  put32(offset + layout_.pageCrcOffset, ndbcrypt::crcBytewise(0, bytes.data() + offset, layout_.pageCrcLength));
}

void NdbImage::putPage(std::uint64_t offset, std::uint8_t ptype, std::uint8_t level, std::uint8_t cEnt,
                       std::uint64_t bid, std::uint16_t wSig, std::mt19937_64& rng) {
  ensure(offset + layout_.pageSize);
  for (std::uint32_t i = 0; i < layout_.pageEntryArea; ++i) bytes[offset + i] = static_cast<unsigned char>(rng());
  const std::uint32_t entrySize =
      level > 0 ? layout_.btEntrySize : (ptype == kPageTypeBbt ? layout_.bbtEntrySize : layout_.nbtEntrySize);
  const auto cEntMax = static_cast<std::uint8_t>(layout_.pageEntryArea / entrySize);
  bytes[offset + layout_.cEntOffset] = std::min(cEnt, cEntMax);
  bytes[offset + layout_.cEntMaxOffset] = cEntMax;
  bytes[offset + layout_.cbEntOffset] = static_cast<unsigned char>(entrySize);
  bytes[offset + layout_.cLevelOffset] = level;
  bytes[offset + layout_.ptypeOffset] = ptype;
  bytes[offset + layout_.ptypeRepeatOffset] = ptype;
  put16(offset + layout_.pageSigOffset, wSig);
  putRef(offset + layout_.pageBidOffset, bid);
  resealPage(offset);
}

void NdbImage::resealHeader(std::uint64_t offset) {
  put32(offset + layout_.headerCrcField,
        ndbcrypt::crcBytewise(0, bytes.data() + offset + layout_.headerCrcStart, layout_.headerCrcLength));
}

void NdbImage::putHeader(std::uint64_t offset, std::mt19937_64& rng, BlockRef nbt, BlockRef bbt) {
  ensure(offset + layout_.headerKeptSize);
  for (std::uint32_t i = 0; i < layout_.headerKeptSize; ++i) bytes[offset + i] = static_cast<unsigned char>(rng());
  put32(offset, kHeaderMagic);
  putRef(offset + layout_.rootNbtBid, nbt.bid);
  putRef(offset + layout_.rootNbtIb, nbt.ib);
  putRef(offset + layout_.rootBbtBid, bbt.bid);
  putRef(offset + layout_.rootBbtIb, bbt.ib);
  resealHeader(offset);
}

std::vector<unsigned char> randomNdbFile(const NdbLayout& layout, std::uint64_t seed, std::size_t maxSize) {
  std::mt19937_64 rng(seed);
  auto uniform = [&](std::uint64_t lo, std::uint64_t hi) {  // inclusive
    return lo + rng() % (hi - lo + 1);
  };
  NdbImage image(layout);
  const std::size_t size = uniform(0, 3) == 0 ? uniform(0, 2048) : uniform(2048, maxSize);
  image.bytes.assign(size + 9000, 0);
  // Background: runs of zeros, noise, 0xFF and small repeating values.
  for (std::size_t at = 0; at < image.bytes.size();) {
    const std::size_t run = uniform(1, 20000);
    const int kind = static_cast<int>(uniform(0, 4));
    for (std::size_t i = at; i < std::min(image.bytes.size(), at + run); ++i) {
      switch (kind) {
        case 0: image.bytes[i] = 0; break;
        case 1: image.bytes[i] = static_cast<unsigned char>(rng()); break;
        case 2: image.bytes[i] = 0xFF; break;
        case 3: image.bytes[i] = static_cast<unsigned char>(uniform(0, 3)); break;
        default: image.bytes[i] = static_cast<unsigned char>((rng() & 7) == 0 ? rng() : 0); break;
      }
    }
    at += run;
  }
  auto offsetFor = [&](std::uint64_t span) -> std::uint64_t {
    if (size < span + 1) return 0;
    std::uint64_t o = uniform(0, size - 1);
    if (uniform(0, 2) == 0) o &= ~std::uint64_t{63};
    return o;
  };
  auto randomBid = [&]() -> std::uint64_t {
    std::uint64_t bid = (uniform(1, 400) << 2);
    if (uniform(0, 3) == 0) bid |= 2;
    if (layout.refWidth == 8 && uniform(0, 3) == 0) bid |= rng() << 40;
    return bid;
  };
  const std::size_t structures = size / 1500 + uniform(0, 6);
  std::vector<std::pair<std::uint64_t, std::uint32_t>> placed;  // offset, allocated size
  for (std::size_t s = 0; s < structures; ++s) {
    const int kind = static_cast<int>(uniform(0, 12));
    if (kind <= 5) {  // data or internal block, possibly trailing zeros
      std::uint32_t cb = static_cast<std::uint32_t>(uniform(0, 5) == 0 ? uniform(1, layout.maxPayload)
                                                                         : uniform(1, 600));
      if (uniform(0, 40) == 0) cb = layout.maxPayload;
      std::vector<unsigned char> payload(cb);
      for (auto& c : payload) c = static_cast<unsigned char>(rng());
      const std::uint64_t bid = randomBid();
      if (bid & 2) payload[0] = static_cast<unsigned char>(uniform(0, 4) == 0 ? 3 : uniform(1, 2));
      if (uniform(0, 2) == 0)
        std::fill(payload.begin() + static_cast<std::ptrdiff_t>(uniform(0, cb)), payload.end(), 0);
      const std::uint64_t at = offsetFor(layout.allocatedSize(cb));
      image.putBlock(at, bid, payload, static_cast<std::uint16_t>(rng()));
      placed.emplace_back(at, layout.allocatedSize(cb));
    } else if (kind == 6) {  // zero block
      const std::uint32_t cb = static_cast<std::uint32_t>(uniform(1, 300));
      image.putBlock(offsetFor(layout.allocatedSize(cb)), randomBid(), std::vector<unsigned char>(cb, 0));
    } else if (kind == 7 && !placed.empty()) {  // a copy of an earlier block elsewhere
      const auto [from, span] = placed[uniform(0, placed.size() - 1)];
      const std::uint64_t to = offsetFor(span);
      std::vector<unsigned char> copy(image.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                      image.bytes.begin() + static_cast<std::ptrdiff_t>(from + span));
      image.ensure(to + span);
      std::copy(copy.begin(), copy.end(), image.bytes.begin() + static_cast<std::ptrdiff_t>(to));
    } else if (kind == 8 && !placed.empty()) {  // a larger block around an earlier one, same start
      const auto [at, span] = placed[uniform(0, placed.size() - 1)];
      if (span + 64 <= layout.maxBlockSpan) {
        const std::uint32_t bigger = static_cast<std::uint32_t>(
            uniform(span + 64, std::min<std::uint64_t>(layout.maxBlockSpan, span + 2048)) - layout.trailerSize);
        const std::uint32_t cb = bigger - static_cast<std::uint32_t>(uniform(0, 63));
        if (cb > span && cb <= layout.maxTrailerCb()) image.sealBlock(at, cb, randomBid());
      }
    } else if (kind <= 10) {  // a page
      const std::uint8_t ptype = uniform(0, 1) ? kPageTypeBbt : kPageTypeNbt;
      const auto level = static_cast<std::uint8_t>(uniform(0, 2) == 0 ? uniform(0, 7) : 0);
      image.putPage(offsetFor(layout.pageSize), ptype, level, static_cast<std::uint8_t>(uniform(0, 41)),
                    uniform(1, 50) << 2, static_cast<std::uint16_t>(rng()), rng);
    } else if (kind == 11) {  // a HEADER
      image.putHeader(offsetFor(layout.headerKeptSize), rng, {uniform(1, 99), uniform(0, size)},
                      {uniform(1, 99), uniform(0, size)});
    } else {  // a page of the other variant
      NdbImage other(layout.variant == 32 ? kUnicodeLayout : kAnsiLayout);
      other.bytes = std::move(image.bytes);
      other.putPage(offsetFor(512), kPageTypeNbt, 0, 3, 8, 0, rng);
      image.bytes = std::move(other.bytes);
    }
  }
  image.bytes.resize(size);  // cuts structures at the end
  return image.bytes;
}

std::string describeDifference(const ScanResults& a, const ScanResults& b) {
  std::ostringstream out;
  const auto& la = a.blocks.lists();
  const auto& lb = b.blocks.lists();
  if (la.size() != lb.size()) out << "distinct BIDs " << la.size() << " vs " << lb.size() << "; ";
  for (std::size_t i = 0; i < std::min(la.size(), lb.size()); ++i) {
    if (la[i] == lb[i]) continue;
    out << "BID list " << i << " (0x" << std::hex << la[i].key << " vs 0x" << lb[i].key << std::dec << ") differs:";
    for (std::size_t k = 0; k < std::max(la[i].versions.size(), lb[i].versions.size()); ++k) {
      if (k < la[i].versions.size()) out << " a@" << la[i].versions[k].offset << "/" << la[i].versions[k].allocatedSize;
      if (k < lb[i].versions.size()) out << " b@" << lb[i].versions[k].offset << "/" << lb[i].versions[k].allocatedSize;
    }
    out << "; ";
    break;
  }
  for (int level = 0; level < 8; ++level) {
    if (!(a.bbtPages[level] == b.bbtPages[level])) out << "BBT level " << level << " differs; ";
    if (!(a.nbtPages[level] == b.nbtPages[level])) out << "NBT level " << level << " differs; ";
  }
  if (a.header != b.header) {
    out << "header " << (a.header ? static_cast<std::int64_t>(a.header->offset) : -1) << " vs "
        << (b.header ? static_cast<std::int64_t>(b.header->offset) : -1) << "; ";
  }
  if (a.stopPosition != b.stopPosition) out << "stop " << a.stopPosition << " vs " << b.stopPosition << "; ";
  if (a.aborted != b.aborted) out << "aborted differs; ";
  if (out.str().empty() && !(a == b)) out << "differs (unlocated)";
  return out.str();
}

}  // namespace vexl::testing
