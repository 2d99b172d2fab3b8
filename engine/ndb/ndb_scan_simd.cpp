#include "engine/ndb/ndb_scan_simd.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "engine/ndb/ndb_crypto.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VEXL_SCAN_X86 1
#endif

namespace vexl::scansimd {

namespace {

// Appends base + k for every bit k set in `mask`, for masks that are nearly
// always 0.
inline std::size_t appendRare(std::uint64_t mask, std::uint64_t base, std::uint32_t* out, std::size_t n) {
  while (mask != 0) {
    out[n++] = static_cast<std::uint32_t>(base + static_cast<unsigned>(std::countr_zero(mask)));
    mask &= mask - 1;
  }
  return n;
}

// Appends base + k for every bit k set in `mask`. Masks are sparse, so the
// first four bits are taken without a branch on the data (a mispredicted
// loop exit per mask would cost more than the filter itself); what is
// written past the last one is overwritten or ignored.
inline std::size_t appendBits(std::uint64_t mask, std::uint64_t base, std::uint32_t* out, std::size_t n) {
  std::uint32_t* at = out + n;
  std::uint64_t rest = mask;
  for (int k = 0; k < 4; ++k) {
    at[k] = static_cast<std::uint32_t>(base + static_cast<unsigned>(std::countr_zero(rest)));
    rest &= rest - 1;
    asm("" : "+r"(rest));  // keeps the compiler from branching on rest == 0 here
  }
  n += static_cast<std::size_t>(std::popcount(mask));
  if (rest != 0) [[unlikely]] {
    for (at += 4; rest != 0; rest &= rest - 1)
      *at++ = static_cast<std::uint32_t>(base + static_cast<unsigned>(std::countr_zero(rest)));
  }
  return n;
}

inline bool trailerPasses(const unsigned char* tr, const TrailerFilter& f) {
  return tr[f.cbOffset + 1] <= f.cbHighMax && (tr[f.cbOffset] | tr[f.cbOffset + 1]) != 0 &&
         (tr[f.bidOffset] & 1) == 0;
}

// The 32-bit reflected value `lo`, standing for lo(x) * x^32, reduced.
inline std::uint32_t reduceHigh(std::uint32_t lo) {
  const auto& t = ndbcrypt::kCrcSlices.t;
  return t[3][lo & 0xFF] ^ t[2][(lo >> 8) & 0xFF] ^ t[1][(lo >> 16) & 0xFF] ^ t[0][lo >> 24];
}

#if defined(VEXL_SCAN_X86)

// ---- 16 lanes (SSE2, part of every x86-64) ----

inline __m128i load16(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

std::size_t trailerNarrow(const unsigned char* tb, std::size_t count, const TrailerFilter& f, std::uint32_t* out,
                          std::size_t& done) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i limit = _mm_set1_epi8(static_cast<char>(f.cbHighMax));
  std::size_t n = 0, i = 0;
  for (; i + 64 <= count; i += 64) {
    std::uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
      const unsigned char* at = tb + i + 16 * k;
      const __m128i low = load16(at + f.cbOffset);
      const __m128i high = load16(at + f.cbOffset + 1);
      const __m128i bidLow = _mm_slli_epi64(load16(at + f.bidOffset), 7);  // bid bit 0 in bit 7
      const __m128i highOk = _mm_cmpeq_epi8(_mm_min_epu8(high, limit), high);
      const __m128i cbZero = _mm_cmpeq_epi8(_mm_or_si128(low, high), zero);
      const auto m = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_andnot_si128(_mm_or_si128(cbZero, bidLow), highOk)));
      mask |= static_cast<std::uint64_t>(m) << (16 * k);
    }
    n = appendBits(mask, i, out, n);
  }
  done = i;
  return n;
}

std::size_t pageNarrow(const unsigned char* type, const unsigned char* repeat, std::size_t count, std::uint32_t* out,
                       std::size_t& done) {
  const __m128i fe = _mm_set1_epi8(static_cast<char>(0xFE));
  const __m128i x80 = _mm_set1_epi8(static_cast<char>(0x80));
  std::size_t n = 0, i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i t = load16(type + i);
    const __m128i isType = _mm_cmpeq_epi8(_mm_and_si128(t, fe), x80);
    const auto m = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(isType, _mm_cmpeq_epi8(t, load16(repeat + i)))));
    n = appendRare(m, i, out, n);
  }
  done = i;
  return n;
}

std::size_t headerNarrow(const unsigned char* b, std::size_t count, std::uint32_t* out, std::size_t& done) {
  std::size_t n = 0, i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i m0 = _mm_cmpeq_epi8(load16(b + i), _mm_set1_epi8('!'));
    const __m128i m1 = _mm_cmpeq_epi8(load16(b + i + 1), _mm_set1_epi8('B'));
    n = appendRare(static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(m0, m1))), i, out, n);
  }
  done = i;
  return n;
}

// ---- 32 lanes (AVX2) and the carry-less multiply ----

__attribute__((target("avx2"))) std::size_t trailerWide(const unsigned char* tb, std::size_t count,
                                                        const TrailerFilter& f, std::uint32_t* out,
                                                        std::size_t& done) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i limit = _mm256_set1_epi8(static_cast<char>(f.cbHighMax));
  std::size_t n = 0, i = 0;
  for (; i + 64 <= count; i += 64) {
    std::uint64_t mask = 0;
    for (int k = 0; k < 2; ++k) {
      const unsigned char* at = tb + i + 32 * k;
      const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + f.cbOffset));
      const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + f.cbOffset + 1));
      const __m256i bidLow =
          _mm256_slli_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + f.bidOffset)), 7);
      const __m256i highOk = _mm256_cmpeq_epi8(_mm256_min_epu8(high, limit), high);
      const __m256i cbZero = _mm256_cmpeq_epi8(_mm256_or_si256(low, high), zero);
      const auto m = static_cast<std::uint32_t>(
          _mm256_movemask_epi8(_mm256_andnot_si256(_mm256_or_si256(cbZero, bidLow), highOk)));
      mask |= static_cast<std::uint64_t>(m) << (32 * k);
    }
    n = appendBits(mask, i, out, n);
  }
  done = i;
  return n;
}

__attribute__((target("avx2"))) std::size_t pageWide(const unsigned char* type, const unsigned char* repeat,
                                                     std::size_t count, std::uint32_t* out, std::size_t& done) {
  const __m256i fe = _mm256_set1_epi8(static_cast<char>(0xFE));
  const __m256i x80 = _mm256_set1_epi8(static_cast<char>(0x80));
  std::size_t n = 0, i = 0;
  for (; i + 32 <= count; i += 32) {
    const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(type + i));
    const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(repeat + i));
    const __m256i isType = _mm256_cmpeq_epi8(_mm256_and_si256(t, fe), x80);
    const auto m = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(isType, _mm256_cmpeq_epi8(t, r))));
    n = appendRare(m, i, out, n);
  }
  done = i;
  return n;
}

__attribute__((target("avx2"))) std::size_t headerWide(const unsigned char* b, std::size_t count,
                                                       std::uint32_t* out, std::size_t& done) {
  const __m256i bang = _mm256_set1_epi8('!');
  const __m256i letter = _mm256_set1_epi8('B');
  std::size_t n = 0, i = 0;
  for (; i + 32 <= count; i += 32) {
    const __m256i m0 = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i)), bang);
    const __m256i m1 = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i + 1)), letter);
    n = appendRare(static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(m0, m1))), i, out, n);
  }
  done = i;
  return n;
}

__attribute__((target("pclmul,sse2"))) void combineWide(const std::uint32_t* a, const std::uint32_t* b,
                                                        const std::uint32_t* x, std::uint32_t* out, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    const __m128i product = _mm_clmulepi64_si128(_mm_cvtsi32_si128(static_cast<int>(a[k])),
                                                 _mm_cvtsi32_si128(static_cast<int>(b[k])), 0);
    const std::uint64_t c = static_cast<std::uint64_t>(_mm_cvtsi128_si64(product)) << 1;
    out[k] = x[k] ^ static_cast<std::uint32_t>(c >> 32) ^ reduceHigh(static_cast<std::uint32_t>(c));
  }
}

// ---- Folding (PCLMUL) ----
//
// A 16-byte register holds the polynomial whose highest coefficient is bit 0
// of its first byte, as the CRC reads a message; a 32-bit value held in the
// low half of a 64-bit lane is that reflected value times x^32. The carry-
// less product of two lanes is the product of their polynomials times x.

constexpr std::uint32_t kReflectedPoly = 0xEDB88320u;

constexpr std::uint32_t timesX(std::uint32_t c) { return (c & 1) != 0 ? (c >> 1) ^ kReflectedPoly : c >> 1; }
constexpr std::uint32_t overX(std::uint32_t c) {
  return (c & 0x80000000u) != 0 ? ((c ^ kReflectedPoly) << 1) | 1u : c << 1;
}
// x^m mod the polynomial, m of either sign (x is invertible: the polynomial
// has a constant term).
constexpr std::uint32_t xPower(int m) {
  std::uint32_t c = 0x80000000u;
  for (; m > 0; --m) c = timesX(c);
  for (; m < 0; ++m) c = overX(c);
  return c;
}

// The multipliers of the span terms: kSpanPowers[i] = x^(8 (i - 20) - 1).
// A 16-byte value V = H x^64 + L times x^e is H * x^(e + 31) + L * x^(e - 33)
// in two lane products; e runs over multiples of 8 from -128 to 8 * (15 + kFoldedSpanMax).
constexpr int kSpanPowerBias = 20;
struct SpanPowers {
  std::uint32_t x[kFoldedSpanMax + 48];
};
constexpr SpanPowers makeSpanPowers() {
  SpanPowers s{};
  std::uint32_t c = xPower(8 * (0 - kSpanPowerBias) - 1);
  for (auto& v : s.x) {
    v = c;
    for (int k = 0; k < 8; ++k) c = timesX(c);
  }
  return s;
}
constexpr SpanPowers kSpanPowers = makeSpanPowers();

// The same multipliers in the pairs the lane products take: pair n holds
// x[n + 8] (low lane, times H) and x[n] (high lane, times L); a group at n
// takes pair n, a state pair n + 16.
struct SpanPairs {
  FoldState pair[kFoldedSpanMax + 32];
};
constexpr SpanPairs makeSpanPairs() {
  SpanPairs s{};
  for (std::size_t n = 0; n < std::size(s.pair); ++n) s.pair[n] = {kSpanPowers.x[n + 8], kSpanPowers.x[n]};
  return s;
}
constexpr SpanPairs kSpanPairs = makeSpanPairs();

// The multipliers of the fold (x^159, x^95: H x^192 + L x^128) and of the
// word reduction (x^127, x^95, x^63).
constexpr std::uint32_t kX159 = xPower(159), kX127 = xPower(127), kX95 = xPower(95), kX63 = xPower(63);

// Barrett reduction: floor(x^64 / P) and P, 33 bits each, reflected.
constexpr std::uint64_t kBarrettMu = 0x1F7011641ull;
constexpr std::uint64_t kBarrettPoly = 0x1DB710641ull;

// Keeps the first r bytes of a 16-byte group: load 16 bytes at kKeep + 16 - r.
alignas(32) constexpr unsigned char kKeep[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                  0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

__attribute__((target("avx2,pclmul"))) inline __m128i foldOnce(__m128i a, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11));
}

__attribute__((target("avx2,pclmul"))) void foldStatesWide(const unsigned char* const bytes[4],
                                                            const std::size_t blocks[4], FoldState* const out[4]) {
  const __m128i k = _mm_set_epi64x(kX95, kX159);
  // Local copies: the stores below might otherwise alias the pointer arrays.
  const unsigned char* const b0 = bytes[0];
  const unsigned char* const b1 = bytes[1];
  const unsigned char* const b2 = bytes[2];
  const unsigned char* const b3 = bytes[3];
  __m128i* const o0 = reinterpret_cast<__m128i*>(out[0]);
  __m128i* const o1 = reinterpret_cast<__m128i*>(out[1]);
  __m128i* const o2 = reinterpret_cast<__m128i*>(out[2]);
  __m128i* const o3 = reinterpret_cast<__m128i*>(out[3]);
  __m128i s0 = _mm_setzero_si128(), s1 = s0, s2 = s0, s3 = s0;
  _mm_store_si128(o0, s0);
  _mm_store_si128(o1, s0);
  _mm_store_si128(o2, s0);
  _mm_store_si128(o3, s0);
  const std::size_t all = std::min(std::min(blocks[0], blocks[1]), std::min(blocks[2], blocks[3]));
  for (std::size_t j = 0; j < all; ++j) {
    s0 = _mm_xor_si128(foldOnce(s0, k), load16(b0 + 16 * j));
    s1 = _mm_xor_si128(foldOnce(s1, k), load16(b1 + 16 * j));
    s2 = _mm_xor_si128(foldOnce(s2, k), load16(b2 + 16 * j));
    s3 = _mm_xor_si128(foldOnce(s3, k), load16(b3 + 16 * j));
    _mm_store_si128(o0 + j + 1, s0);
    _mm_store_si128(o1 + j + 1, s1);
    _mm_store_si128(o2 + j + 1, s2);
    _mm_store_si128(o3 + j + 1, s3);
  }
  const __m128i last[4] = {s0, s1, s2, s3};
  for (int r = 0; r < 4; ++r) {
    __m128i c = last[r];
    for (std::size_t j = all; j < blocks[r]; ++j) {
      c = _mm_xor_si128(foldOnce(c, k), load16(bytes[r] + 16 * j));
      _mm_store_si128(reinterpret_cast<__m128i*>(out[r] + j + 1), c);
    }
  }
}

// The prefix up to `position` times x^(8 n), up to a multiple of P, as a
// 16-byte value: with j, r = position / 16, position % 16, that prefix is
// state[j] x^(8 r) + (the first r bytes of group j) and the group masked
// to those bytes is them times x^(8 (16 - r)).
__attribute__((target("avx2,pclmul"))) inline __m128i endTermOf(__m128i state, __m128i group, std::uint32_t n) {
  // State times x^(8 n): powers 8 n + 31, 8 n - 33; group times x^(8 n - 128).
  const __m128i ks = _mm_load_si128(reinterpret_cast<const __m128i*>(kSpanPairs.pair + n + 16));
  const __m128i kg = _mm_load_si128(reinterpret_cast<const __m128i*>(kSpanPairs.pair + n));
  return _mm_xor_si128(foldOnce(state, ks), foldOnce(group, kg));
}

__attribute__((target("avx2,pclmul"))) inline __m128i endTerm(const SpanQuery& s, std::uint32_t position,
                                                              std::uint32_t n) {
  const std::uint32_t j = position >> 4, r = position & 15;
  const __m128i state = _mm_load_si128(reinterpret_cast<const __m128i*>(s.states + j));
  const __m128i group = _mm_and_si128(load16(s.bytes + 16 * j), load16(kKeep + 16 - r));
  return endTermOf(state, group, n);
}

// v x^32 mod P for the 16-byte value v, as a reflected 32-bit value: the
// four 32-bit words times x^128, x^96, x^64 and x^32 give a 64-bit value,
// which Barrett reduction takes to 32 bits.
__attribute__((target("avx2,pclmul"))) inline std::uint32_t reduce16(__m128i v) {
  const __m128i low32 = _mm_set_epi32(0, -1, 0, -1);
  const __m128i even = _mm_and_si128(v, low32);  // words 0 and 2
  const __m128i odd = _mm_srli_epi64(v, 32);     // words 1 and 3
  const __m128i k = _mm_set_epi64x(kX63, kX127);
  const __m128i t = _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(even, k, 0x00), _mm_clmulepi64_si128(even, k, 0x11)),
      _mm_xor_si128(_mm_clmulepi64_si128(odd, _mm_cvtsi32_si128(static_cast<int>(kX95)), 0x00),
                    _mm_srli_si128(odd, 8)));
  const __m128i barrett = _mm_set_epi64x(static_cast<long long>(kBarrettPoly), static_cast<long long>(kBarrettMu));
  const __m128i q = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00), low32);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(t, _mm_clmulepi64_si128(q, barrett, 0x10)), 1));
}

// CRC of [a, a + cb) = (prefix(a + cb) + prefix(a) x^(8 cb)) x^32 mod P;
// both terms are taken times x^-32, which reduce16 puts back.
__attribute__((target("avx2,pclmul"))) void spanCrcsWide(const SpanQuery* spans, std::size_t n,
                                                          std::uint32_t* out) {
  for (std::size_t k = 0; k < n; ++k) {
    const SpanQuery& s = spans[k];
    const std::uint32_t end = s.offset + s.cb;
    const __m128i v =
        _mm_xor_si128(endTerm(s, s.offset, (s.offset & 15) + s.cb), endTerm(s, end, end & 15));
    out[k] = reduce16(v);
  }
}

// One span from the start of `bytes`: the state of its whole groups and the
// rest, read without going past `count`.
__attribute__((target("avx2,pclmul"))) std::uint32_t crcWide(const unsigned char* bytes, std::size_t count) {
  const __m128i k = _mm_set_epi64x(kX95, kX159);
  const std::size_t groups = count / 16;
  __m128i state = _mm_setzero_si128();
  for (std::size_t j = 0; j < groups; ++j) state = _mm_xor_si128(foldOnce(state, k), load16(bytes + 16 * j));
  const auto rest = static_cast<std::uint32_t>(count & 15);
  alignas(16) unsigned char tail[16] = {};
  std::memcpy(tail, bytes + 16 * groups, rest);
  return reduce16(endTermOf(state, load16(tail), rest));
}

bool detectWide() {
  if (__builtin_cpu_supports("avx2") == 0 || __builtin_cpu_supports("pclmul") == 0) return false;
  const char* env = std::getenv("BRELLIN_SCAN_PORTABLE");
  return env == nullptr || std::strcmp(env, "1") != 0;
}

#else

void foldStatesWide(const unsigned char* const*, const std::size_t*, FoldState* const*) {}
std::uint32_t crcWide(const unsigned char*, std::size_t) { return 0; }
void spanCrcsWide(const SpanQuery*, std::size_t, std::uint32_t*) {}
std::size_t trailerNarrow(const unsigned char*, std::size_t, const TrailerFilter&, std::uint32_t*, std::size_t& done) {
  done = 0;
  return 0;
}
std::size_t pageNarrow(const unsigned char*, const unsigned char*, std::size_t, std::uint32_t*, std::size_t& done) {
  done = 0;
  return 0;
}
std::size_t headerNarrow(const unsigned char*, std::size_t, std::uint32_t*, std::size_t& done) {
  done = 0;
  return 0;
}
bool detectWide() { return false; }

#endif

const bool kWideAvailable = detectWide();
std::atomic<bool> gWide{kWideAvailable};

}  // namespace

bool wideForms() { return gWide.load(std::memory_order_relaxed); }

void allowWideForms(bool allow) { gWide.store(allow && kWideAvailable, std::memory_order_relaxed); }

std::size_t trailerCandidates(const unsigned char* trailers, std::size_t count, const TrailerFilter& filter,
                              std::uint32_t* out) {
  std::size_t i = 0;
  std::size_t n =
#if defined(VEXL_SCAN_X86)
      wideForms() ? trailerWide(trailers, count, filter, out, i) :
#endif
                  trailerNarrow(trailers, count, filter, out, i);
  for (; i < count; ++i)
    if (trailerPasses(trailers + i, filter)) out[n++] = static_cast<std::uint32_t>(i);
  return n;
}

std::size_t pageTypeCandidates(const unsigned char* type, const unsigned char* repeat, std::size_t count,
                               std::uint32_t* out) {
  std::size_t i = 0;
  std::size_t n =
#if defined(VEXL_SCAN_X86)
      wideForms() ? pageWide(type, repeat, count, out, i) :
#endif
                  pageNarrow(type, repeat, count, out, i);
  for (; i < count; ++i)
    if ((type[i] & 0xFE) == 0x80 && repeat[i] == type[i]) out[n++] = static_cast<std::uint32_t>(i);
  return n;
}

std::size_t headerCandidates(const unsigned char* bytes, std::size_t count, std::uint32_t* out) {
  std::size_t i = 0;
  std::size_t n =
#if defined(VEXL_SCAN_X86)
      wideForms() ? headerWide(bytes, count, out, i) :
#endif
                  headerNarrow(bytes, count, out, i);
  for (; i < count; ++i)
    if (bytes[i] == '!' && bytes[i + 1] == 'B') out[n++] = static_cast<std::uint32_t>(i);
  return n;
}

void combineCrcs(const std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* x, std::uint32_t* out,
                 std::size_t n) {
#if defined(VEXL_SCAN_X86)
  if (wideForms()) {
    combineWide(a, b, x, out, n);
    return;
  }
#endif
  for (std::size_t k = 0; k < n; ++k) out[k] = x[k] ^ ndbcrypt::multiplyMod(a[k], b[k]);
}

std::uint32_t crc(const unsigned char* bytes, std::size_t count) {
  return wideForms() ? crcWide(bytes, count) : ndbcrypt::crc(0, bytes, count);
}

void foldStates(const unsigned char* const bytes[4], const std::size_t blocks[4], FoldState* const out[4]) {
  foldStatesWide(bytes, blocks, out);
}

void foldedSpanCrcs(const SpanQuery* spans, std::size_t n, std::uint32_t* out) { spanCrcsWide(spans, n, out); }

}  // namespace vexl::scansimd
