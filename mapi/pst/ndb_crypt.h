// The block arithmetic the writer needs: CRC ([MS-PST] 5.3), signature
// ([MS-PST] 5.5) and the data-block encodings NDB_CRYPT_PERMUTE ([MS-PST]
// 5.1) and NDB_CRYPT_CYCLIC ([MS-PST] 5.2). The published tables live once,
// in engine/ndb (vexl::ndbcrypt); these calls only name them the writer's way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/ndb/ndb_crypto.h"
#include "mapi/pst/ndb_types.h"

namespace vexl::pst {

inline std::uint32_t computeCrc(std::span<const std::uint8_t> bytes) {
  return ndbcrypt::crc(0, bytes.data(), bytes.size());
}

inline std::uint16_t computeSig(Ib ib, Bid bid) { return ndbcrypt::signature(ib, bid); }

// Encodes a data block's payload in place as bCryptMethod says. Internal
// blocks (XBLOCK, XXBLOCK, SLBLOCK, SIBLOCK) are never encoded.
inline void encodeBlock(CryptMethod method, Bid bid, std::span<std::uint8_t> payload) {
  switch (method) {
    case CryptMethod::None:
      break;
    case CryptMethod::Permute:
      ndbcrypt::permute(payload.data(), payload.size(), true);
      break;
    case CryptMethod::Cyclic:
      // The key is the low 32 bits of the block's BID.
      ndbcrypt::cyclic(payload.data(), payload.size(), static_cast<std::uint32_t>(bid));
      break;
  }
}

// The inverse of encodeBlock (used by tests and read-back checks).
inline void decodeBlock(CryptMethod method, Bid bid, std::span<std::uint8_t> payload) {
  switch (method) {
    case CryptMethod::None:
      break;
    case CryptMethod::Permute:
      ndbcrypt::permute(payload.data(), payload.size(), false);
      break;
    case CryptMethod::Cyclic:
      ndbcrypt::cyclic(payload.data(), payload.size(), static_cast<std::uint32_t>(bid));
      break;
  }
}

}  // namespace vexl::pst
