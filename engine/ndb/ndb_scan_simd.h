// The byte filters of the whole-file scan and the batched CRC combination
// step, each in a 32-lane form (AVX2, PCLMUL) chosen at run time when the
// processor has it, and a 16-lane / scalar form that works everywhere. Both
// forms give the same output for the same input; only speed differs. The
// folded span CRCs exist in the wide form only; without it the scan uses
// the 32-bit prefix states of ndb_crypto.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexl::scansimd {

// Whether the wide forms run: the processor has the instructions and they
// were not switched off (by allowWideForms or BRELLIN_SCAN_PORTABLE=1 in
// the environment).
bool wideForms();
// Switches the wide forms off (false) or back to what the processor allows.
void allowWideForms(bool allow);

// The trailer fields the first block filter looks at.
struct TrailerFilter {
  std::uint32_t cbOffset;
  std::uint32_t bidOffset;
  unsigned char cbHighMax;  // the largest allowed high byte of cb
};

// Writes every i in [0, count) whose trailer at `trailers + i` has a cb high
// byte of at most cbHighMax, a cb other than 0 and bid bit 0 clear; returns
// how many. Writes up to 4 entries past that count, so `out` has room for
// count + 4. Loads up to 64 + bidOffset bytes past `trailers + count`.
std::size_t trailerCandidates(const unsigned char* trailers, std::size_t count, const TrailerFilter& filter,
                              std::uint32_t* out);

// Writes every i in [0, count) with (type[i] & 0xFE) == 0x80 and
// repeat[i] == type[i]; returns how many. Loads up to 32 bytes past count.
std::size_t pageTypeCandidates(const unsigned char* type, const unsigned char* repeat, std::size_t count,
                               std::uint32_t* out);

// Writes every i in [0, count) with bytes[i] == '!' and bytes[i + 1] == 'B';
// returns how many. Loads up to 33 bytes past count.
std::size_t headerCandidates(const unsigned char* bytes, std::size_t count, std::uint32_t* out);

// out[k] = x[k] ^ (a[k] * b[k] mod the CRC polynomial), reflected
// representation, for k in [0, n).
void combineCrcs(const std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* x, std::uint32_t* out,
                 std::size_t n);

// The [MS-PST] CRC from 0 of `count` bytes: ndbcrypt::crc, folded where
// the wide forms run.
std::uint32_t crc(const unsigned char* bytes, std::size_t count);

// Span CRCs by carry-less folding (wide forms only). A fold state stands in
// for a prefix of 16 * j bytes: it is a 16-byte value congruent to the
// prefix modulo the CRC polynomial, so the CRC of the prefix followed by any
// bytes is the CRC of the state followed by them. Unlike a reduced 32-bit
// state it costs two carry-less multiplies per 16 bytes; the reduction is
// left to the few spans whose CRC is asked for.
struct alignas(16) FoldState {
  std::uint64_t lo, hi;
};

// Four independent runs: out[k][j] is the state of the first 16 * j bytes at
// bytes[k], for j = 0 .. blocks[k]. Only when wideForms().
void foldStates(const unsigned char* const bytes[4], const std::size_t blocks[4], FoldState* const out[4]);

// One span: `bytes` and `states` of its run, the span [offset, offset + cb).
// Reads the 16-byte groups holding both ends, so 16 bytes past the span's
// end must be readable.
struct SpanQuery {
  const unsigned char* bytes;
  const FoldState* states;
  std::uint32_t offset;
  std::uint32_t cb;
};

// out[k] = the CRC (from 0) of span k. cb at most kFoldedSpanMax. Only when
// wideForms().
inline constexpr std::uint32_t kFoldedSpanMax = 8192;
void foldedSpanCrcs(const SpanQuery* spans, std::size_t n, std::uint32_t* out);

}  // namespace vexl::scansimd
