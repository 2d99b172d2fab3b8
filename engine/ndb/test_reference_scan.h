// Test support: the whole-file scan and the variant decision as a straight
// one-position-at-a-time reading, the yardstick the production scan is
// compared against. Deliberately slow: 8192 bytes read at every position.
#pragma once

#include <cstdint>

#include "engine/ndb/ndb_scan.h"

namespace vexl::testing {

void referenceScan(const NdbLayout& layout, ScanSource& source, const ScanOptions& options,
                   std::uint8_t startPercent, std::uint32_t divisor, const NdbFormat* owner,
                   ScanResults& results);

VariantCounts referenceDecision(ScanSource& source, std::uint8_t startPercent, std::uint32_t divisor);

}  // namespace vexl::testing
