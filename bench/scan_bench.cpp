// scan_bench: generates an OST-shaped Unicode file (HEADER, permute-encoded
// data blocks, internal blocks, BBT/NBT pages, zero blocks, free space) and
// measures, in one run, the one-position reference scan on a slice, the
// production scan and variant decision, and a plain sequential
// read-and-touch pass over the same cached file.
//
//   scan_bench [--size MiB] [--file PATH] [--slice MiB] [--rounds N] [--keep] [--reuse] [--scan-only]
//              [--one-thread]
// --reuse keeps and reuses an existing file; --scan-only times the
// production scan alone (for profiling); --one-thread searches every chunk
// on one thread (to see what the second one adds). The read pass and the scans are
// timed in N interleaved rounds (default 5): on a shared machine load only
// ever slows a pass down, so the best round of each is reported, and the
// range of the per-round ratios beside it.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/core/engine_context.h"
#include "engine/file/file64_ex.h"
#include "engine/ndb/ndb_crypto.h"
#include "engine/ndb/ndb_format.h"
#include "engine/ndb/test_ndb_support.h"
#include "engine/ndb/test_reference_scan.h"

namespace {

using Clock = std::chrono::steady_clock;

class BenchEngine : public vexl::EngineContext {
 public:
  BenchEngine(bool fastRecovery, bool ignoreZero) : EngineContext(nullptr, nullptr) {
    options_.FastRecovery = fastRecovery ? -1 : 0;
    options_.IgnoreZeroBlock = ignoreZero ? -1 : 0;
  }
};

// Stops the wrapped scan once it has passed `end`.
class SliceSource final : public vexl::ScanSource {
 public:
  SliceSource(vexl::ScanSource& inner, std::uint64_t end) : inner_(inner), end_(end) {}
  std::uint64_t length() override { return inner_.length(); }
  std::uint32_t readAt(std::uint64_t offset, void* buffer, std::uint32_t count) override {
    return inner_.readAt(offset, buffer, count);
  }
  void progress(std::uint8_t percent, std::uint64_t position) override { inner_.progress(percent, position); }
  bool queryAbort(std::uint64_t position) override { return position >= end_; }

 private:
  vexl::ScanSource& inner_;
  std::uint64_t end_;
};

// Writes the file in pieces of a few MiB.
void generate(const std::string& path, std::uint64_t size) {
  std::mt19937_64 rng(20240607);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  vexl::testing::NdbImage image(vexl::kUnicodeLayout);
  const vexl::NdbLayout& layout = vexl::kUnicodeLayout;
  std::uint64_t written = 0;
  std::uint64_t nextBid = 0x100;
  bool first = true;
  // Text-like plain bytes, as message bodies and property values are.
  const char* words[] = {"the ", "message ", "folder ", "Subject: ", "Re: ", "meeting ", "\r\n", "0000", "attachment ",
                         "\x00\x00\x00\x00", "PR_", "report ", "<html>", "</div>"};
  while (written < size) {
    image.bytes.assign(4u << 20, 0);
    std::uint64_t at = 0;
    if (first) {
      image.putHeader(0, rng, {0x21, 0x4000}, {0x22, 0x4200});
      at = 4096;
      first = false;
    }
    while (at + 8192 + 4096 < image.bytes.size()) {
      const int kind = static_cast<int>(rng() % 100);
      if (kind < 70) {  // data block, permute-encoded
        const std::uint32_t cb = static_cast<std::uint32_t>(rng() % 3 == 0 ? layout.maxPayload : 64 + rng() % 6000);
        std::vector<unsigned char> payload;
        payload.reserve(cb);
        while (payload.size() < cb) {
          const char* w = words[rng() % (sizeof(words) / sizeof(words[0]))];
          const std::size_t n = w[0] == 0 ? 4 : std::strlen(w);
          payload.insert(payload.end(), w, w + n);
        }
        payload.resize(cb);
        vexl::ndbcrypt::permute(payload.data(), payload.size(), true);
        image.putBlock(at, nextBid, payload, static_cast<std::uint16_t>(rng()));
        nextBid += 4;
        at += layout.allocatedSize(cb);
      } else if (kind < 78) {  // internal block (XBLOCK / SLBLOCK)
        const std::uint32_t cb = static_cast<std::uint32_t>(8 + 8 * (1 + rng() % 100));
        std::vector<unsigned char> payload(cb);
        for (auto& c : payload) c = static_cast<unsigned char>(rng() % 4 == 0 ? rng() : 0);
        payload[0] = static_cast<unsigned char>(1 + rng() % 2);
        image.putBlock(at, nextBid | 2, payload);
        nextBid += 4;
        at += layout.allocatedSize(cb);
      } else if (kind < 86) {  // a run of B-tree pages, 512-aligned
        at = (at + 511) / 512 * 512;
        for (int i = 0; i < 8; ++i, at += 512)
          image.putPage(at, rng() % 2 ? vexl::kPageTypeBbt : vexl::kPageTypeNbt, rng() % 8 == 0 ? 1 : 0,
                        static_cast<std::uint8_t>(rng() % 16), nextBid += 4, static_cast<std::uint16_t>(rng()), rng);
      } else if (kind < 90) {  // zero block
        const std::uint32_t cb = static_cast<std::uint32_t>(64 + rng() % 2000);
        image.putBlock(at, nextBid, std::vector<unsigned char>(cb, 0));
        nextBid += 4;
        at += layout.allocatedSize(cb);
      } else if (kind < 97) {  // free space: zeros
        at += 512 * (1 + rng() % 64);
      } else {  // stale bytes: noise
        const std::uint64_t n = 512 * (1 + rng() % 16);
        for (std::uint64_t i = 0; i < n; ++i) image.bytes[at + i] = static_cast<unsigned char>(rng());
        at += n;
      }
    }
    const std::uint64_t n = std::min<std::uint64_t>(image.bytes.size(), size - written);
    out.write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(n));
    written += n;
  }
}

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double mbps(std::uint64_t bytes, double s) { return static_cast<double>(bytes) / 1e6 / s; }

// Reads the whole file in chunks of the scan's size and touches every byte.
double readPass(const std::string& path, std::uint64_t& sum) {
  vexl::CFile64Ex file(65536);
  file.open(path, vexl::kSourceOpenMode, nullptr);
  std::vector<unsigned char> buffer((4u << 20) + 8192);
  const auto start = Clock::now();
  std::uint64_t offset = 0;
  std::uint64_t s = 0;
  for (;;) {
    file.seek(static_cast<std::int64_t>(offset), vexl::kSeekBegin);
    const std::uint32_t got = file.read(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    for (std::uint32_t i = 0; i < got; ++i) s += buffer[i];
    if (got < buffer.size()) break;
    offset += 4u << 20;
  }
  sum = s;
  return seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t sizeMiB = 256;
  std::uint64_t sliceMiB = 2;
  std::string path = "/tmp/brellin-scan-bench.ost";
  bool keep = false;
  bool reuse = false;
  bool scanOnly = false;
  int rounds = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--size" && i + 1 < argc) sizeMiB = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--slice" && i + 1 < argc) sliceMiB = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--file" && i + 1 < argc) path = argv[++i];
    else if (arg == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--keep") keep = true;
    else if (arg == "--reuse") reuse = keep = true;
    else if (arg == "--scan-only") scanOnly = true;
    else if (arg == "--one-thread") vexl::scanTuning().parallelMinimum = ~std::uint64_t{0};
    else {
      std::fprintf(stderr,
                   "usage: scan_bench [--size MiB] [--file PATH] [--slice MiB] [--rounds N] [--keep] [--reuse] "
                   "[--scan-only] [--one-thread]\n");
      return 2;
    }
  }
  const std::uint64_t slice = sliceMiB << 20;
  if (!reuse || !std::ifstream(path)) {
    std::printf("generating %llu MiB at %s\n", static_cast<unsigned long long>(sizeMiB), path.c_str());
    generate(path, sizeMiB << 20);
  }
  // A reused file keeps its own size.
  std::uint64_t size = 0;
  {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    size = static_cast<std::uint64_t>(in.tellg());
  }

  if (scanOnly) {
    vexl::CFile64Ex file(65536);
    file.open(path, vexl::kSourceOpenMode, nullptr);
    BenchEngine engine(false, false);
    vexl::UnicodeNdbFormat format(engine, file);
    const auto t = Clock::now();
    format.scanOnly(17, 2);
    const double s = seconds(t);
    std::printf("production scan %.1f MB/s, %zu distinct BIDs\n", mbps(size, s), format.scanResults().blocks.keyCount());
    if (!keep) std::remove(path.c_str());
    return 0;
  }

  std::uint64_t sum = 0;
  readPass(path, sum);  // warm the page cache

  vexl::CFile64Ex file(65536);
  file.open(path, vexl::kSourceOpenMode, nullptr);

  // The reference on a slice, and the production scan on the same slice for
  // a like-for-like check.
  BenchEngine plainEngine(false, false);
  vexl::EngineScanSource engineSource(plainEngine, file);
  SliceSource sliced(engineSource, slice);
  vexl::ScanResults reference, production;
  auto start = Clock::now();
  vexl::testing::referenceScan(vexl::kUnicodeLayout, sliced, {}, 17, 2, nullptr, reference);
  const double referenceSeconds = seconds(start);
  vexl::scanNdbFile(vexl::kUnicodeLayout, sliced, {}, 17, 2, nullptr, production);
  const bool sliceSame = reference == production;

  auto timeScan = [&](bool fast, std::size_t& blocks) {
    BenchEngine engine(fast, false);
    vexl::UnicodeNdbFormat format(engine, file);
    const auto t = Clock::now();
    format.scanOnly(17, 2);
    const double s = seconds(t);
    blocks = format.scanResults().blocks.keyCount();
    return s;
  };
  std::size_t bids = 0, bidsFast = 0;
  double readSeconds = 1e30, scanSeconds = 1e30, fastSeconds = 1e30;
  double lowRatio = 1e30, highRatio = 0;
  for (int r = 0; r < rounds; ++r) {
    const double read = readPass(path, sum);
    const double scan = timeScan(false, bids);
    fastSeconds = std::min(fastSeconds, timeScan(true, bidsFast));
    readSeconds = std::min(readSeconds, read);
    scanSeconds = std::min(scanSeconds, scan);
    lowRatio = std::min(lowRatio, scan / read);
    highRatio = std::max(highRatio, scan / read);
  }
  BenchEngine decisionEngine(false, false);
  start = Clock::now();
  const vexl::VariantCounts counts = vexl::countVariants(decisionEngine, file, 0, 6);
  const double decisionSeconds = seconds(start);

  const double referenceRate = mbps(reference.stopPosition, referenceSeconds);
  const double scanRate = mbps(size, scanSeconds);
  const double readRate = mbps(size, readSeconds);
  std::printf("file                 %llu bytes, %zu distinct BIDs, decision %u (%llu ANSI / %llu Unicode pages)\n",
              static_cast<unsigned long long>(size), bids, counts.decision(),
              static_cast<unsigned long long>(counts.ansiPages), static_cast<unsigned long long>(counts.unicodePages));
  std::printf("reference scan       %10.1f MB/s  (%llu-byte slice, same results as production: %s)\n", referenceRate,
              static_cast<unsigned long long>(reference.stopPosition), sliceSame ? "yes" : "NO");
  std::printf("production scan      %10.1f MB/s\n", scanRate);
  std::printf("  with FastRecovery  %10.1f MB/s  (%zu distinct BIDs)\n", mbps(size, fastSeconds), bidsFast);
  std::printf("variant decision     %10.1f MB/s\n", mbps(size, decisionSeconds));
  std::printf("plain read pass      %10.1f MB/s  (checksum %llu)\n", readRate, static_cast<unsigned long long>(sum));
  std::printf("production / reference   %8.1fx\n", scanRate / referenceRate);
  std::printf("read pass / production   %8.2fx  (best of %d rounds each; per round %.2fx to %.2fx)\n",
              readRate / scanRate, rounds, lowRatio, highRatio);
  if (!keep) std::remove(path.c_str());
  return sliceSame ? 0 : 1;
}
