#include "engine/ndb/ndb_scan_simd.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "engine/ndb/ndb_crypto.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VEXL_SCAN_X86 1
#endif

namespace vexl::scansimd {

namespace {

// Appends base + k for every bit k set in `mask`.
inline std::size_t appendBits(std::uint64_t mask, std::uint64_t base, std::uint32_t* out, std::size_t n) {
  while (mask != 0) {
    out[n++] = static_cast<std::uint32_t>(base + static_cast<unsigned>(__builtin_ctzll(mask)));
    mask &= mask - 1;
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
    n = appendBits(m, i, out, n);
  }
  done = i;
  return n;
}

std::size_t headerNarrow(const unsigned char* b, std::size_t count, std::uint32_t* out, std::size_t& done) {
  std::size_t n = 0, i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i m0 = _mm_cmpeq_epi8(load16(b + i), _mm_set1_epi8('!'));
    const __m128i m1 = _mm_cmpeq_epi8(load16(b + i + 1), _mm_set1_epi8('B'));
    n = appendBits(static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(m0, m1))), i, out, n);
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
    n = appendBits(m, i, out, n);
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
    n = appendBits(static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(m0, m1))), i, out, n);
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

bool detectWide() {
  if (__builtin_cpu_supports("avx2") == 0 || __builtin_cpu_supports("pclmul") == 0) return false;
  const char* env = std::getenv("BRELLIN_SCAN_PORTABLE");
  return env == nullptr || std::strcmp(env, "1") != 0;
}

#else

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

}  // namespace vexl::scansimd
