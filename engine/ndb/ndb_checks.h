// The recognisers every scan applies at each position, written against an
// NdbLayout: is a valid HEADER there, is a valid BBT/NBT page there. Cheap
// field tests come first; the CRC only when they all pass.
#pragma once

#include <cstdint>

#include "engine/ndb/ndb_layout.h"

namespace vexl::ndbcheck {

// A HEADER: magic "!BDN" and its CRC field ([MS-PST] 2.2.2.6). Needs
// layout.headerKeptSize bytes.
bool isHeader(const NdbLayout& layout, const unsigned char* bytes, std::uint32_t count);

// A BBT or NBT page ([MS-PST] 2.2.2.7): level, entry geometry, ptype and CRC.
bool isBTreePage(const NdbLayout& layout, const unsigned char* bytes, std::uint32_t count);

// The page checks that need no CRC; isBTreePage is this plus the CRC.
bool pageFieldsValid(const NdbLayout& layout, const unsigned char* bytes);

// Bytes up to and including the last non-zero byte among the first k; 0
// when all k are zero.
std::uint32_t trimmedLength(const unsigned char* bytes, std::uint32_t k);

// The progress value for `position`: startPercent + trunc(position * 100 /
// length / divisor), as one byte. `length` must not be 0.
std::uint8_t progressValue(std::uint8_t startPercent, std::uint64_t position, std::uint64_t length,
                           std::uint32_t divisor);

}  // namespace vexl::ndbcheck
