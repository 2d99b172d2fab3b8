// The on-disk layout of one [MS-PST] NDB variant as plain numbers. Every
// reader and checker of this layer is written against an NdbLayout, so a
// further variant (the 4 KiB-page format of later Outlook versions) is one
// more constant table and one more NdbFormat subclass.
#pragma once

#include <cstdint>
#include <cstring>

namespace vexl {

struct NdbLayout {
  std::uint8_t variant;  // 32 ANSI, 64 Unicode

  // Identifiers and file offsets in entries, trailers and the HEADER.
  std::uint32_t refWidth;  // BID and IB width
  std::uint32_t nidWidth;  // NID width in an NBTENTRY

  // HEADER ([MS-PST] 2.2.2.6).
  std::uint32_t headerKeptSize;   // bytes kept (and needed by the check)
  std::uint32_t headerCrcField;   // dwCRCPartial (ANSI) / dwCRCFull (Unicode)
  std::uint32_t headerCrcStart;   // first byte covered
  std::uint32_t headerCrcLength;  // bytes covered
  std::uint32_t rootNbtBid, rootNbtIb;
  std::uint32_t rootBbtBid, rootBbtIb;

  // BTPAGE and PAGETRAILER ([MS-PST] 2.2.2.7).
  std::uint32_t pageSize;
  std::uint32_t pageEntryArea;  // bytes 0 .. pageEntryArea-1 hold entries
  std::uint32_t cEntOffset, cEntMaxOffset, cbEntOffset, cLevelOffset;
  std::uint32_t ptypeOffset, ptypeRepeatOffset, pageSigOffset, pageBidOffset, pageCrcOffset;
  std::uint32_t pageCrcLength;  // bytes 0 .. pageCrcLength-1
  std::uint32_t btEntrySize, bbtEntrySize, nbtEntrySize;
  // Fields within the entries ([MS-PST] 2.2.2.7.7): BTENTRY BREF, BBTENTRY
  // cb, NBTENTRY bidData, bidSub, nidParent (nid at 0, BREF at 0).
  std::uint32_t btEntryBrefOffset, bbtEntryCbOffset;
  std::uint32_t nbtEntryDataOffset, nbtEntrySubOffset, nbtEntryParentOffset;

  // BLOCKTRAILER ([MS-PST] 2.2.2.8.1).
  std::uint32_t trailerSize;
  std::uint32_t trailerCbOffset, trailerSigOffset, trailerBidOffset, trailerCrcOffset;
  std::uint32_t maxBlockSpan;    // largest allocated block size
  std::uint32_t maxPayload;      // largest data block payload
  std::uint32_t blockAlignment;  // blocks occupy multiples of this

  // Internal blocks ([MS-PST] 2.2.2.8.3).
  std::uint32_t xblockBidArrayOffset;
  std::uint32_t xblockTotalOffset;  // lcbTotal
  // How an XXBLOCK look-up finds the XBLOCK of a block index: by walking
  // the child XBLOCKs' cEnt (sound for any fill), or by dividing by the
  // full capacity of an XBLOCK, (maxPayload - xblockBidArrayOffset) / refWidth.
  bool xxblockWalksChildren;
  std::uint32_t slEntriesOffset, slEntrySize, siEntrySize;
  // SLENTRY bidData, bidSub and SIENTRY bid (nid at 0 in both).
  std::uint32_t slEntryDataOffset, slEntrySubOffset, siEntryBidOffset;

  // How far FastRecovery trims over a recognised page and HEADER.
  std::uint32_t fastStepPage;
  std::uint32_t fastStepHeader;

  // The largest block a trailer can describe: cb + trailer within one span.
  std::uint32_t maxTrailerCb() const { return maxBlockSpan - trailerSize; }
  std::uint32_t allocatedSize(std::uint32_t cb) const {
    return (cb + trailerSize + blockAlignment - 1) / blockAlignment * blockAlignment;
  }
};

inline constexpr std::uint8_t kPageTypeBbt = 0x80;
inline constexpr std::uint8_t kPageTypeNbt = 0x81;
inline constexpr std::uint32_t kHeaderMagic = 0x4E444221;  // "!BDN"
inline constexpr std::uint32_t kMaxPageLevel = 7;

inline constexpr NdbLayout kAnsiLayout{
    .variant = 32,
    .refWidth = 4,
    .nidWidth = 4,
    .headerKeptSize = 479,
    .headerCrcField = 4,
    .headerCrcStart = 8,
    .headerCrcLength = 471,
    .rootNbtBid = 184,
    .rootNbtIb = 188,
    .rootBbtBid = 192,
    .rootBbtIb = 196,
    .pageSize = 512,
    .pageEntryArea = 496,
    .cEntOffset = 496,
    .cEntMaxOffset = 497,
    .cbEntOffset = 498,
    .cLevelOffset = 499,
    .ptypeOffset = 500,
    .ptypeRepeatOffset = 501,
    .pageSigOffset = 502,
    .pageBidOffset = 504,
    .pageCrcOffset = 508,
    .pageCrcLength = 500,
    .btEntrySize = 12,
    .bbtEntrySize = 12,
    .nbtEntrySize = 16,
    .btEntryBrefOffset = 4,
    .bbtEntryCbOffset = 8,
    .nbtEntryDataOffset = 4,
    .nbtEntrySubOffset = 8,
    .nbtEntryParentOffset = 12,
    .trailerSize = 12,
    .trailerCbOffset = 0,
    .trailerSigOffset = 2,
    .trailerBidOffset = 4,
    .trailerCrcOffset = 8,
    .maxBlockSpan = 8192,
    .maxPayload = 8180,
    .blockAlignment = 64,
    .xblockBidArrayOffset = 8,
    .xblockTotalOffset = 4,
    .xxblockWalksChildren = true,
    .slEntriesOffset = 4,
    .slEntrySize = 12,
    .siEntrySize = 8,
    .slEntryDataOffset = 4,
    .slEntrySubOffset = 8,
    .siEntryBidOffset = 4,
    .fastStepPage = 500,
    .fastStepHeader = 479,
};

inline constexpr NdbLayout kUnicodeLayout{
    .variant = 64,
    .refWidth = 8,
    .nidWidth = 8,
    .headerKeptSize = 531,
    .headerCrcField = 524,
    .headerCrcStart = 8,
    .headerCrcLength = 516,
    .rootNbtBid = 216,
    .rootNbtIb = 224,
    .rootBbtBid = 232,
    .rootBbtIb = 240,
    .pageSize = 512,
    .pageEntryArea = 488,
    .cEntOffset = 488,
    .cEntMaxOffset = 489,
    .cbEntOffset = 490,
    .cLevelOffset = 491,
    .ptypeOffset = 496,
    .ptypeRepeatOffset = 497,
    .pageSigOffset = 498,
    .pageBidOffset = 504,
    .pageCrcOffset = 500,
    .pageCrcLength = 496,
    .btEntrySize = 24,
    .bbtEntrySize = 24,
    .nbtEntrySize = 32,
    .btEntryBrefOffset = 8,
    .bbtEntryCbOffset = 16,
    .nbtEntryDataOffset = 8,
    .nbtEntrySubOffset = 16,
    .nbtEntryParentOffset = 24,
    .trailerSize = 16,
    .trailerCbOffset = 0,
    .trailerSigOffset = 2,
    .trailerBidOffset = 8,
    .trailerCrcOffset = 4,
    .maxBlockSpan = 8192,
    .maxPayload = 8176,
    .blockAlignment = 64,
    .xblockBidArrayOffset = 8,
    .xblockTotalOffset = 4,
    .xxblockWalksChildren = false,
    .slEntriesOffset = 8,
    .slEntrySize = 24,
    .siEntrySize = 16,
    .slEntryDataOffset = 8,
    .slEntrySubOffset = 16,
    .siEntryBidOffset = 8,
    .fastStepPage = 496,
    .fastStepHeader = 524,
};

// Little-endian loads from byte buffers.
inline std::uint16_t loadLe16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t loadLe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t loadLe64(const unsigned char* p) {
  return static_cast<std::uint64_t>(loadLe32(p)) | (static_cast<std::uint64_t>(loadLe32(p + 4)) << 32);
}
// A BID or IB of the variant's width, widened to 64 bits.
inline std::uint64_t loadRef(const NdbLayout& layout, const unsigned char* p) {
  return layout.refWidth == 8 ? loadLe64(p) : loadLe32(p);
}

}  // namespace vexl
