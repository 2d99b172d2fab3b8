#include "engine/ndb/test_ndb_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

#include "engine/ndb/ndb_crypto.h"

namespace vexl::testing {

void TreeBuilder::page(std::uint64_t offset, std::uint8_t ptype, std::uint8_t level, std::uint64_t pageBid,
                       std::uint32_t cEnt) {
  std::mt19937_64 rng(offset);
  image.putPage(offset, ptype, level, static_cast<std::uint8_t>(cEnt), pageBid, ndbcrypt::signature(offset, pageBid),
                rng);
}

void TreeBuilder::bbtLeaf(std::uint64_t offset, std::uint64_t pageBid, const std::vector<BbtEntry>& entries) {
  page(offset, kPageTypeBbt, 0, pageBid, static_cast<std::uint32_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint64_t at = offset + i * layout.bbtEntrySize;
    image.putRef(at, entries[i].bid);
    image.putRef(at + layout.refWidth, entries[i].ib);
    image.put16(at + layout.bbtEntryCbOffset, entries[i].cb);
  }
  image.resealPage(offset);
}

void TreeBuilder::nbtLeaf(std::uint64_t offset, std::uint64_t pageBid, const std::vector<NbtEntry>& entries) {
  page(offset, kPageTypeNbt, 0, pageBid, static_cast<std::uint32_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint64_t at = offset + i * layout.nbtEntrySize;
    image.putRef(at, entries[i].nid);
    image.putRef(at + layout.nbtEntryDataOffset, entries[i].dataBid);
    image.putRef(at + layout.nbtEntrySubOffset, entries[i].subnodeBid);
    image.put32(at + layout.nbtEntryParentOffset, entries[i].parentNid);
  }
  image.resealPage(offset);
}

void TreeBuilder::btPage(std::uint64_t offset, std::uint8_t ptype, std::uint8_t level, std::uint64_t pageBid,
                         const std::vector<BlockRef>& children) {
  page(offset, ptype, level, pageBid, static_cast<std::uint32_t>(children.size()));
  for (std::size_t i = 0; i < children.size(); ++i) {
    const std::uint64_t at = offset + i * layout.btEntrySize;
    image.putRef(at, i);  // btkey
    image.putRef(at + layout.btEntryBrefOffset, children[i].bid);
    image.putRef(at + layout.btEntryBrefOffset + layout.refWidth, children[i].ib);
  }
  image.resealPage(offset);
}

void TreeBuilder::header(BlockRef nbt, BlockRef bbt) {
  std::mt19937_64 rng(99);
  image.putHeader(0, rng, nbt, bbt);
}

BlockRef TreeBuilder::block(std::uint64_t offset, std::uint64_t bid, const std::vector<unsigned char>& payload) {
  return block(offset, bid, payload, ndbcrypt::signature(offset, bid));
}

BlockRef TreeBuilder::block(std::uint64_t offset, std::uint64_t bid, const std::vector<unsigned char>& payload,
                            std::uint16_t wSig) {
  image.putBlock(offset, bid, payload, wSig);
  return BlockRef{bid, offset};
}

namespace {
void putLe(std::vector<unsigned char>& v, std::size_t at, std::uint64_t value, std::uint32_t width) {
  for (std::uint32_t i = 0; i < width; ++i) v[at + i] = static_cast<unsigned char>(value >> (8 * i));
}
}  // namespace

std::vector<unsigned char> TreeBuilder::xblock(std::uint8_t level, std::uint32_t lcbTotal,
                                               const std::vector<std::uint64_t>& bids, std::uint16_t cEnt) const {
  std::vector<unsigned char> v(layout.xblockBidArrayOffset + bids.size() * layout.refWidth, 0);
  v[0] = 1;
  v[1] = level;
  putLe(v, 2, cEnt == 0xFFFF ? bids.size() : cEnt, 2);
  putLe(v, layout.xblockTotalOffset, lcbTotal, 4);
  for (std::size_t i = 0; i < bids.size(); ++i) putLe(v, layout.xblockBidArrayOffset + i * layout.refWidth, bids[i], layout.refWidth);
  return v;
}

std::vector<unsigned char> TreeBuilder::slblock(const std::vector<SlEntry>& entries) const {
  std::vector<unsigned char> v(layout.slEntriesOffset + entries.size() * layout.slEntrySize, 0);
  v[0] = 2;
  v[1] = 0;
  putLe(v, 2, entries.size(), 2);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t at = layout.slEntriesOffset + i * layout.slEntrySize;
    putLe(v, at, entries[i].nid, layout.refWidth);
    putLe(v, at + layout.slEntryDataOffset, entries[i].dataBid, layout.refWidth);
    putLe(v, at + layout.slEntrySubOffset, entries[i].subnodeBid, layout.refWidth);
  }
  return v;
}

std::vector<unsigned char> TreeBuilder::siblock(const std::vector<SiEntry>& entries) const {
  std::vector<unsigned char> v(layout.slEntriesOffset + entries.size() * layout.siEntrySize, 0);
  v[0] = 2;
  v[1] = 1;
  putLe(v, 2, entries.size(), 2);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t at = layout.slEntriesOffset + i * layout.siEntrySize;
    putLe(v, at, entries[i].nid, layout.refWidth);
    putLe(v, at + layout.siEntryBidOffset, entries[i].bid, layout.refWidth);
  }
  return v;
}

std::vector<unsigned char> heapPayload(std::size_t size, std::uint8_t fill) {
  std::vector<unsigned char> v(size, fill);
  v[0] = 12;  // ibHnpm
  v[1] = 0;
  v[2] = 0xEC;
  v[3] = 0xBC;
  return v;
}

std::vector<unsigned char> noisePayload(std::size_t size, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<unsigned char> v(size);
  for (auto& c : v) c = static_cast<unsigned char>(rng() | 1);
  return v;
}

class ScannedFile::Engine final : public EngineContext {
 public:
  explicit Engine(bool ignoreZero) : EngineContext(nullptr, nullptr) { options_.IgnoreZeroBlock = ignoreZero ? -1 : 0; }
};

ScannedFile::ScannedFile(const NdbLayout& layout, const std::vector<unsigned char>& bytes, bool ignoreZero) {
  static int counter = 0;
  path_ = (std::filesystem::temp_directory_path() /
           ("ndb-index-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".ost"))
              .string();
  {
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  engine_ = std::make_unique<Engine>(ignoreZero);
  file_ = std::make_unique<CFile64Ex>(65536);
  file_->open(path_, kSourceOpenMode, nullptr);
  if (layout.variant == 64)
    format_ = std::make_unique<UnicodeNdbFormat>(*engine_, *file_);
  else
    format_ = std::make_unique<AnsiNdbFormat>(*engine_, *file_);
  count_ = format_->scanFile(17, 2);
}

ScannedFile::~ScannedFile() {
  format_.reset();
  file_.reset();
  std::filesystem::remove(path_);
}

std::vector<std::string> sampleFiles(const std::string& directory) {
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    if (entry.path().extension() == ".ost" || entry.path().extension() == ".pst") out.push_back(entry.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<unsigned char> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace vexl::testing
