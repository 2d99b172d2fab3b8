// hostile_gen: writes a file of SIZE MiB built to stress the scan and the
// index rebuild where a careless reader grows quadratically or without
// bound. Every structure is valid where the scan looks (trailer CRCs, page
// CRCs); what they say is hostile.
//
//   hostile_gen SHAPE SIZE_MIB OUT [--ansi]
//
// Shapes:
//   noise         random bytes
//   tiny-blocks   a 64-byte data block every 64 bytes, every BID distinct
//   same-block    a 64-byte data block every 64 bytes, all with one BID
//   same-nid      NBT leaf pages back to back, every entry the same NID
//   same-bid      half 64-byte blocks of one BID, half BBT leaf pages naming it
//   tiny-nodes    per 4 KiB: an NBT leaf of distinct NIDs, a BBT leaf and the
//                 tiny data blocks they name
//   deep-pages    BT pages of every level naming pages at random offsets
// The first 4 KiB hold a HEADER whose roots name the first page.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/ndb/ndb_layout.h"
#include "engine/ndb/test_ndb_support.h"

namespace {

using vexl::NdbLayout;
using vexl::testing::NdbImage;

constexpr std::uint64_t kChunk = 1u << 20;
constexpr std::uint64_t kHeaderArea = 4096;

// One chunk of the file at absolute offset `base`; `image` is chunk-relative.
class ShapeWriter {
 public:
  ShapeWriter(const NdbLayout& layout, std::string shape) : L(layout), shape_(std::move(shape)) {}

  bool known() const {
    for (const char* s : {"noise", "tiny-blocks", "same-block", "same-nid", "same-bid", "tiny-nodes", "deep-pages"})
      if (shape_ == s) return true;
    return false;
  }

  void fill(std::uint64_t base, std::uint64_t fileSize, NdbImage& image) {
    image.bytes.assign(kChunk, 0);
    const std::uint64_t from = base == 0 ? kHeaderArea : 0;
    if (shape_ == "noise") {
      for (auto& b : image.bytes) b = static_cast<unsigned char>(rng_());
    } else if (shape_ == "tiny-blocks" || shape_ == "same-block") {
      for (std::uint64_t at = from; at + 64 <= kChunk; at += 64) tinyBlock(image, at, shape_ == "same-block" ? 4 : nextBid());
    } else if (shape_ == "same-nid") {
      for (std::uint64_t at = from; at + L.pageSize <= kChunk; at += L.pageSize) nbtLeaf(image, at, base + at, true);
    } else if (shape_ == "same-bid") {
      const std::uint64_t half = kChunk / 2;
      for (std::uint64_t at = from; at + 64 <= half; at += 64) tinyBlock(image, at, 4);
      for (std::uint64_t at = half; at + L.pageSize <= kChunk; at += L.pageSize) bbtLeaf(image, at, base + at, 4);
    } else if (shape_ == "tiny-nodes") {
      for (std::uint64_t at = from; at + 4096 <= kChunk; at += 4096) nodeGroup(image, at, base + at);
    } else if (shape_ == "deep-pages") {
      for (std::uint64_t at = from; at + L.pageSize <= kChunk; at += L.pageSize) deepPage(image, at, base + at, fileSize);
    }
    if (base == 0) {
      // Roots at the first structure after the HEADER area.
      const vexl::BlockRef root{pageBid(kHeaderArea), kHeaderArea};
      image.putHeader(0, rng_, root, root);
    }
  }

 private:
  std::uint64_t nextBid() { return bid_ += 4; }
  // Pages carry a BID derived from their offset, so BTENTRYs can name them.
  static std::uint64_t pageBid(std::uint64_t offset) { return (offset / 64 + 1) * 4; }

  void tinyBlock(NdbImage& image, std::uint64_t at, std::uint64_t bid) {
    const std::uint32_t cb = 64 - L.trailerSize;
    std::vector<unsigned char> payload(cb);
    for (auto& c : payload) c = static_cast<unsigned char>(rng_());
    image.putBlock(at, bid, payload);
  }

  void nbtLeaf(NdbImage& image, std::uint64_t at, std::uint64_t absolute, bool sameNid,
               std::uint64_t firstNid = 0, std::uint64_t firstBid = 0, std::uint32_t count = ~0u) {
    image.putPage(at, vexl::kPageTypeNbt, 0, 0xFF, pageBid(absolute), 0, rng_);
    const std::uint32_t cEnt = std::min(count, L.pageEntryArea / L.nbtEntrySize);
    for (std::uint32_t i = 0; i < cEnt; ++i) {
      const std::uint64_t e = at + i * L.nbtEntrySize;
      const std::uint64_t nid = sameNid ? 0x200024 : firstNid + (std::uint64_t{i} << 5);
      image.putRef(e, nid);  // NIDs are 32 bits, widened in the Unicode entry
      image.putRef(e + L.nbtEntryDataOffset, sameNid ? nextBid() : firstBid + 4 * i);
      image.putRef(e + L.nbtEntrySubOffset, 0);
      image.put32(e + L.nbtEntryParentOffset, 0x8022);
    }
    image.bytes[at + L.cEntOffset] = static_cast<unsigned char>(cEnt);
    image.resealPage(at);
  }

  void bbtLeaf(NdbImage& image, std::uint64_t at, std::uint64_t absolute, std::uint64_t bid,
               std::uint64_t firstIb = 0, std::uint32_t count = ~0u, bool sameBid = true) {
    image.putPage(at, vexl::kPageTypeBbt, 0, 0xFF, pageBid(absolute), 0, rng_);
    const std::uint32_t cEnt = std::min(count, L.pageEntryArea / L.bbtEntrySize);
    for (std::uint32_t i = 0; i < cEnt; ++i) {
      const std::uint64_t e = at + i * L.bbtEntrySize;
      image.putRef(e, sameBid ? bid : bid + 4 * i);
      image.putRef(e + L.refWidth, sameBid ? rng_() & ~std::uint64_t{63} : firstIb + 64 * i);
      image.put16(e + L.bbtEntryCbOffset, static_cast<std::uint16_t>(64 - L.trailerSize));
    }
    image.bytes[at + L.cEntOffset] = static_cast<unsigned char>(cEnt);
    image.resealPage(at);
  }

  // An NBT leaf, a BBT leaf and the data blocks both name.
  void nodeGroup(NdbImage& image, std::uint64_t at, std::uint64_t absolute) {
    const std::uint32_t nodes = L.pageEntryArea / L.nbtEntrySize;
    const std::uint64_t firstBid = bid_ + 4;
    bid_ += 4 * nodes;
    const std::uint64_t firstNid = nid_;
    nid_ += std::uint64_t{nodes} << 5;
    nbtLeaf(image, at, absolute, false, firstNid, firstBid, nodes);
    const std::uint64_t blocks = at + 2 * L.pageSize;
    bbtLeaf(image, at + L.pageSize, absolute + L.pageSize, firstBid, absolute + 2 * L.pageSize,
            std::min(nodes, L.pageEntryArea / L.bbtEntrySize), false);
    for (std::uint32_t i = 0; i < nodes; ++i) tinyBlock(image, blocks + 64 * i, firstBid + 4 * i);
  }

  void deepPage(NdbImage& image, std::uint64_t at, std::uint64_t absolute, std::uint64_t fileSize) {
    const auto level = static_cast<std::uint8_t>(1 + rng_() % vexl::kMaxPageLevel);
    const std::uint8_t ptype = (rng_() & 1) ? vexl::kPageTypeBbt : vexl::kPageTypeNbt;
    image.putPage(at, ptype, level, 0xFF, pageBid(absolute), 0, rng_);
    const std::uint32_t cEnt = L.pageEntryArea / L.btEntrySize;
    const std::uint64_t pages = fileSize / L.pageSize;
    for (std::uint32_t i = 0; i < cEnt; ++i) {
      const std::uint64_t target = (rng_() % pages) * L.pageSize;
      const std::uint64_t e = at + i * L.btEntrySize;
      image.putRef(e, rng_());
      image.putRef(e + L.btEntryBrefOffset, pageBid(target));
      image.putRef(e + L.btEntryBrefOffset + L.refWidth, target);
    }
    image.bytes[at + L.cEntOffset] = static_cast<unsigned char>(cEnt);
    image.resealPage(at);
  }

  const NdbLayout& L;
  std::string shape_;
  std::mt19937_64 rng_{20261209};
  std::uint64_t bid_ = 0;
  std::uint64_t nid_ = 0x10004;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: hostile_gen SHAPE SIZE_MIB OUT [--ansi]\n");
    return 2;
  }
  const bool ansi = argc > 4 && std::strcmp(argv[4], "--ansi") == 0;
  const NdbLayout& layout = ansi ? vexl::kAnsiLayout : vexl::kUnicodeLayout;
  ShapeWriter writer(layout, argv[1]);
  if (!writer.known()) {
    std::fprintf(stderr, "hostile_gen: unknown shape %s\n", argv[1]);
    return 2;
  }
  const std::uint64_t size = std::strtoull(argv[2], nullptr, 10) << 20;
  std::FILE* out = std::fopen(argv[3], "wb");
  if (out == nullptr || size == 0) {
    std::fprintf(stderr, "hostile_gen: cannot write %s\n", argv[3]);
    return 1;
  }
  NdbImage image(layout);
  for (std::uint64_t base = 0; base < size; base += kChunk) {
    writer.fill(base, size, image);
    if (std::fwrite(image.bytes.data(), 1, kChunk, out) != kChunk) return 1;
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
