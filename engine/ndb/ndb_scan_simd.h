// The byte filters of the whole-file scan and the batched CRC combination
// step, each in a 32-lane form (AVX2, PCLMUL) chosen at run time when the
// processor has it, and a 16-lane / scalar form that works everywhere. Both
// forms give the same output for the same input; only speed differs.
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
// how many. Loads up to 64 + bidOffset bytes past `trailers + count`.
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

}  // namespace vexl::scansimd
