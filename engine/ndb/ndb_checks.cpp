#include "engine/ndb/ndb_checks.h"

#include "engine/ndb/ndb_crypto.h"

namespace vexl::ndbcheck {

bool isHeader(const NdbLayout& layout, const unsigned char* bytes, std::uint32_t count) {
  if (count < layout.headerKeptSize) return false;
  if (loadLe32(bytes) != kHeaderMagic) return false;
  return loadLe32(bytes + layout.headerCrcField) ==
         ndbcrypt::crc(0, bytes + layout.headerCrcStart, layout.headerCrcLength);
}

bool pageFieldsValid(const NdbLayout& layout, const unsigned char* bytes) {
  const std::uint8_t cLevel = bytes[layout.cLevelOffset];
  if (cLevel > kMaxPageLevel) return false;
  const std::uint8_t ptype = bytes[layout.ptypeOffset];
  const std::uint32_t entrySize =
      cLevel > 0 ? layout.btEntrySize : (ptype == kPageTypeBbt ? layout.bbtEntrySize : layout.nbtEntrySize);
  const std::uint8_t cEntMax = bytes[layout.cEntMaxOffset];
  if (cEntMax != layout.pageEntryArea / entrySize) return false;
  if (bytes[layout.cbEntOffset] != entrySize) return false;
  if (bytes[layout.cEntOffset] > cEntMax) return false;
  if (ptype != kPageTypeBbt && ptype != kPageTypeNbt) return false;
  return bytes[layout.ptypeRepeatOffset] == ptype;
}

bool isBTreePage(const NdbLayout& layout, const unsigned char* bytes, std::uint32_t count) {
  if (count < layout.pageSize) return false;
  if (!pageFieldsValid(layout, bytes)) return false;
  return loadLe32(bytes + layout.pageCrcOffset) == ndbcrypt::crc(0, bytes, layout.pageCrcLength);
}

std::uint32_t trimmedLength(const unsigned char* bytes, std::uint32_t k) {
  while (k > 0 && bytes[k - 1] == 0) --k;
  return k;
}

std::uint8_t progressValue(std::uint8_t startPercent, std::uint64_t position, std::uint64_t length,
                           std::uint32_t divisor) {
  const double share = static_cast<double>(position) * 100.0 / static_cast<double>(length) /
                       static_cast<double>(divisor == 0 ? 1 : divisor);
  return static_cast<std::uint8_t>(startPercent + static_cast<std::uint32_t>(share));
}

}  // namespace vexl::ndbcheck
