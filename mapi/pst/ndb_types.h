// Identifiers and per-variant sizes of the [MS-PST] node database (NDB)
// layer: NID ([MS-PST] 2.2.2.1), BID (2.2.2.2), IB (2.2.2.3), BREF (2.2.2.4),
// and the sizes of pages (2.2.2.7) and blocks (2.2.2.8) for the ANSI and
// Unicode variants. Everything that differs between the variants is a field
// of NdbFormat, so a further variant (the 4 KiB-page format) is one more
// constant table.
#pragma once

#include <cstdint>

namespace vexl::pst {

enum class Variant : std::uint8_t { Ansi, Unicode };

// bCryptMethod of the HEADER ([MS-PST] 2.2.2.6).
enum class CryptMethod : std::uint8_t { None = 0x00, Permute = 0x01, Cyclic = 0x02 };

// NID ([MS-PST] 2.2.2.1): nidType in the low 5 bits, nidIndex above.
using Nid = std::uint32_t;
// BID ([MS-PST] 2.2.2.2): bit 1 marks internal blocks; bidIndex from bit 2.
using Bid = std::uint64_t;
// IB ([MS-PST] 2.2.2.3): absolute file offset.
using Ib = std::uint64_t;

enum class NidType : std::uint8_t {
  Hid = 0x00,
  Internal = 0x01,
  NormalFolder = 0x02,
  SearchFolder = 0x03,
  NormalMessage = 0x04,
  Attachment = 0x05,
  SearchUpdateQueue = 0x06,
  SearchCriteriaObject = 0x07,
  AssocMessage = 0x08,
  ContentsTableIndex = 0x0A,
  ReceiveFolderTable = 0x0B,
  OutgoingQueueTable = 0x0C,
  HierarchyTable = 0x0D,
  ContentsTable = 0x0E,
  AssocContentsTable = 0x0F,
  SearchContentsTable = 0x10,
  AttachmentTable = 0x11,
  RecipientTable = 0x12,
  SearchTableIndex = 0x13,
  Ltp = 0x1F,
};

constexpr Nid makeNid(NidType type, std::uint32_t index) {
  return (index << 5) | static_cast<std::uint32_t>(type);
}
constexpr NidType nidType(Nid nid) { return static_cast<NidType>(nid & 0x1F); }
constexpr std::uint32_t nidIndex(Nid nid) { return nid >> 5; }
// The same nidIndex with another type: a folder's hierarchy, contents and
// associated-contents tables share the folder's index.
constexpr Nid withType(Nid nid, NidType type) { return makeNid(type, nidIndex(nid)); }

constexpr bool isInternalBid(Bid bid) { return (bid & 0x2) != 0; }

// BREF ([MS-PST] 2.2.2.4).
struct Bref {
  Bid bid = 0;
  Ib ib = 0;
};

// Page types ([MS-PST] 2.2.2.7.1).
enum class PageType : std::uint8_t {
  Bbt = 0x80,
  Nbt = 0x81,
  FMap = 0x82,
  PMap = 0x83,
  AMap = 0x84,
  FPMap = 0x85,
  DList = 0x86,
};

// fAMapValid of the ROOT ([MS-PST] 2.2.2.5).
inline constexpr std::uint8_t kAMapInvalid = 0x00;
inline constexpr std::uint8_t kAMapValid2 = 0x02;

struct NdbFormat {
  Variant variant;
  std::uint16_t wVer;          // HEADER wVer
  std::uint32_t refSize;       // width of a BID and an IB
  std::uint32_t headerSize;    // bytes of the HEADER written
  // Pages.
  std::uint32_t pageSize;
  std::uint32_t pageTrailerSize;
  std::uint32_t pageDataSize;  // bytes covered by the page CRC
  std::uint32_t btEntryArea;   // rgentries of a BTPAGE
  std::uint32_t bbtEntrySize, nbtEntrySize, btEntrySize;
  // Blocks.
  std::uint32_t blockTrailerSize;
  std::uint32_t maxBlockSize;   // allocation of a block, trailer included
  std::uint32_t blockAlignment;
  // SLBLOCK / SIBLOCK header: btype, cLevel, cEnt and (Unicode) dwPadding.
  std::uint32_t subnodeHeaderSize;
  // TCROWID dwRowIndex ([MS-PST] 2.3.4.3).
  std::uint32_t rowIndexSize;

  std::uint32_t maxBlockPayload() const { return maxBlockSize - blockTrailerSize; }
  std::uint32_t blockAllocation(std::uint32_t cb) const {
    return (cb + blockTrailerSize + blockAlignment - 1) / blockAlignment * blockAlignment;
  }
  std::uint32_t bbtLeafCapacity() const { return btEntryArea / bbtEntrySize; }
  std::uint32_t nbtLeafCapacity() const { return btEntryArea / nbtEntrySize; }
  std::uint32_t btIntermediateCapacity() const { return btEntryArea / btEntrySize; }
  // XBLOCK / XXBLOCK ([MS-PST] 2.2.2.8.3.2): 8-byte header, then BIDs.
  std::uint32_t xblockCapacity() const { return (maxBlockPayload() - 8) / refSize; }
  // SLENTRY: nid, bidData, bidSub; SIENTRY: nid, bid ([MS-PST] 2.2.2.8.3.3).
  std::uint32_t slEntrySize() const { return 3 * refSize; }
  std::uint32_t siEntrySize() const { return 2 * refSize; }
  std::uint32_t slblockCapacity() const { return (maxBlockPayload() - subnodeHeaderSize) / slEntrySize(); }
  std::uint32_t siblockCapacity() const { return (maxBlockPayload() - subnodeHeaderSize) / siEntrySize(); }
};

inline constexpr NdbFormat kUnicodeFormat{
    .variant = Variant::Unicode,
    .wVer = 23,
    .refSize = 8,
    .headerSize = 564,
    .pageSize = 512,
    .pageTrailerSize = 16,
    .pageDataSize = 496,
    .btEntryArea = 488,
    .bbtEntrySize = 24,
    .nbtEntrySize = 32,
    .btEntrySize = 24,
    .blockTrailerSize = 16,
    .maxBlockSize = 8192,
    .blockAlignment = 64,
    .subnodeHeaderSize = 8,
    .rowIndexSize = 4,
};

inline constexpr NdbFormat kAnsiFormat{
    .variant = Variant::Ansi,
    .wVer = 14,
    .refSize = 4,
    .headerSize = 512,
    .pageSize = 512,
    .pageTrailerSize = 12,
    .pageDataSize = 500,
    .btEntryArea = 496,
    .bbtEntrySize = 12,
    .nbtEntrySize = 16,
    .btEntrySize = 12,
    .blockTrailerSize = 12,
    .maxBlockSize = 8192,
    .blockAlignment = 64,
    .subnodeHeaderSize = 4,
    .rowIndexSize = 2,
};

inline const NdbFormat& formatFor(Variant variant) {
  return variant == Variant::Unicode ? kUnicodeFormat : kAnsiFormat;
}

}  // namespace vexl::pst
