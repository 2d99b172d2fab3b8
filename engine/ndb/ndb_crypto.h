// The per-block arithmetic of the [MS-PST] node database: the CRC
// ([MS-PST] 5.3), the block signature ([MS-PST] 5.5), NDB_CRYPT_PERMUTE
// ([MS-PST] 5.1) and NDB_CRYPT_CYCLIC ([MS-PST] 5.2). Both variants share
// all of it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vexl::ndbcrypt {

// mpbbCrypt: mpbbR (0-255), mpbbS (256-511), mpbbI (512-767).
extern const std::array<std::uint8_t, 768> kMpbbCrypt;
// The reflected CRC-32 table, polynomial 0xEDB88320.
extern const std::array<std::uint32_t, 256> kCrcTable;

// CRC of `count` bytes continuing from `start`; no inversion at either end.
std::uint32_t crc(std::uint32_t start, const unsigned char* bytes, std::size_t count);
// The same, one byte per step (the form the check values are defined by).
std::uint32_t crcBytewise(std::uint32_t start, const unsigned char* bytes, std::size_t count);

// Prefix states for a fast span CRC: out[0] = start and out[i + 1] = the
// state after the first 8 * (i + 1) bytes, for `groups` groups of 8 bytes.
void prefixStates8(std::uint32_t start, const unsigned char* bytes, std::size_t groups, std::uint32_t* out);

// Two independent runs of prefixStates8 (from state 0) interleaved, which
// keeps more table loads in flight than one run.
void prefixStates8x2(const unsigned char* bytesA, std::size_t groupsA, std::uint32_t* outA,
                     const unsigned char* bytesB, std::size_t groupsB, std::uint32_t* outB);

// Four independent runs of prefixStates8 (from state 0) interleaved.
void prefixStates8x4(const unsigned char* const bytes[4], const std::size_t groups[4], std::uint32_t* const out[4]);

// The slicing tables: t[k][i] is table entry i advanced over k further
// zero bytes (k = 0 .. 7); t[0] is kCrcTable.
struct CrcSliceTables {
  std::uint32_t t[8][256];
};
extern const CrcSliceTables kCrcSlices;

// The state c advanced over r (0 .. 7) bytes at p, with independent table
// loads. Reads 8 bytes at p whatever r is.
inline std::uint32_t advanceShort(std::uint32_t c, const unsigned char* p, unsigned r) {
  if (r == 0) return c;
  std::uint64_t w = 0;
  for (int i = 7; i >= 0; --i) w = (w << 8) | p[i];
  w ^= c;
  std::uint32_t out = r < 4 ? c >> (8 * r) : 0;
  for (unsigned j = 0; j < r; ++j) out ^= kCrcSlices.t[r - 1 - j][(w >> (8 * j)) & 0xFF];
  return out;
}

// One CRC step per byte, inline, for short runs in hot loops.
inline std::uint32_t crcShort(std::uint32_t c, const unsigned char* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) c = (c >> 8) ^ kCrcTable[(c ^ bytes[i]) & 0xFF];
  return c;
}

// zeroRunOperator(n) for n = 0 .. kZeroRunTableSize - 1, as one table.
inline constexpr std::uint32_t kZeroRunTableSize = 8193;
const std::uint32_t* zeroRunTable();

// x^(8*n) mod the polynomial, in the reflected representation: the operator
// that runs a CRC state through n zero bytes.
std::uint32_t zeroRunOperator(std::uint32_t n);
// a * b mod the polynomial (reflected representation).
std::uint32_t multiplyMod(std::uint32_t a, std::uint32_t b);
// The portable form of multiplyMod, also used where no carry-less multiply
// instruction exists.
std::uint32_t multiplyModPortable(std::uint32_t a, std::uint32_t b);
// The CRC state `state` advanced over n zero bytes.
inline std::uint32_t shiftState(std::uint32_t state, std::uint32_t n) {
  return multiplyMod(zeroRunOperator(n), state);
}

std::uint16_t signature(std::uint64_t ib, std::uint64_t bid);
void permute(unsigned char* buffer, std::size_t count, bool encode);
void cyclic(unsigned char* buffer, std::size_t count, std::uint32_t key);

}  // namespace vexl::ndbcrypt
