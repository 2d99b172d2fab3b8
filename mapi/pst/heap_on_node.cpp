#include "mapi/pst/heap_on_node.h"

#include <algorithm>
#include <cstring>

#include "mapi/pst/byte_writer.h"
#include "mapi/pst/pst_error.h"

namespace vexl::pst {

namespace {

constexpr std::uint8_t kHeapSignature = 0xEC;

// rgbFillLevel values ([MS-PST] 2.3.1.2) from a block's free bytes.
std::uint8_t fillLevel(std::uint32_t freeBytes) {
  static constexpr std::uint32_t kAtLeast[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                               512,  256,  128,  64,   32,   16,   8};
  for (std::uint8_t level = 0; level < 15; ++level)
    if (freeBytes >= kAtLeast[level]) return level;
  return 15;
}

// The page map after the allocations: cAlloc, cFree, rgibAlloc[cAlloc + 1].
std::uint32_t pageMapSize(std::size_t allocations) { return static_cast<std::uint32_t>(4 + 2 * (allocations + 1)); }

}  // namespace

HeapBuilder::HeapBuilder(const NdbFormat& format, HeapClient client) : format_(format), client_(client) {
  Block first;
  first.bytes.assign(headerSize(0), 0);
  blocks_.push_back(std::move(first));
}

std::uint32_t HeapBuilder::headerSize(std::size_t blockIndex) const {
  if (blockIndex == 0) return 12;                 // HNHDR
  if (blockIndex % 128 == 8) return 66;           // HNBITMAPHDR
  return 2;                                       // HNPAGEHDR
}

std::uint32_t HeapBuilder::used(const Block& b) const {
  const auto size = static_cast<std::uint32_t>(b.bytes.size());
  return size + (size & 1) + pageMapSize(b.offsets.size());
}

Hid HeapBuilder::allocate(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > kMaxHeapAllocation)
    throw PstError(PstErrorCode::InvalidArgument, "heap allocation larger than 3580 bytes");
  const std::uint32_t max = format_.maxBlockPayload();
  Block* b = &blocks_.back();
  const auto need = [&](const Block& blk) {
    const auto size = static_cast<std::uint32_t>(blk.bytes.size() + bytes.size());
    return size + (size & 1) + pageMapSize(blk.offsets.size() + 1);
  };
  if (need(*b) > max || b->offsets.size() >= 0x7FF) {
    if (blocks_.size() >= 0xFFFF) throw PstError(PstErrorCode::TooMuchData, "heap larger than 65535 blocks");
    Block next;
    next.bytes.assign(headerSize(blocks_.size()), 0);
    blocks_.push_back(std::move(next));
    b = &blocks_.back();
  }
  const std::size_t at = b->bytes.size();
  b->offsets.push_back(static_cast<std::uint16_t>(at));
  b->bytes.resize(at + bytes.size());
  if (!bytes.empty()) std::memcpy(b->bytes.data() + at, bytes.data(), bytes.size());
  return makeHid(static_cast<std::uint32_t>(blocks_.size() - 1), static_cast<std::uint32_t>(b->offsets.size()));
}

void HeapBuilder::overwrite(Hid hid, std::span<const std::uint8_t> bytes) {
  checkHid(hid);
  const std::uint32_t index = (hid >> 5) & 0x7FF;
  Block& b = blocks_[hid >> 16];
  const std::size_t start = b.offsets[index - 1];
  const std::size_t end = index < b.offsets.size() ? b.offsets[index] : b.bytes.size();
  if (end - start != bytes.size()) throw PstError(PstErrorCode::InvalidArgument, "overwrite changes the size");
  std::copy(bytes.begin(), bytes.end(), b.bytes.begin() + static_cast<std::ptrdiff_t>(start));
}

std::uint8_t HeapBuilder::level(std::size_t block) const {
  const Block& b = blocks_[block];
  return b.sealed ? b.sealedLevel : fillLevel(format_.maxBlockPayload() - used(b));
}

void HeapBuilder::checkHid(Hid hid) const {
  const std::uint32_t blockIndex = hid >> 16;
  const std::uint32_t index = (hid >> 5) & 0x7FF;
  if (hid & 0x1F || blockIndex >= blocks_.size() || blocks_[blockIndex].sealed || index == 0 ||
      index > blocks_[blockIndex].offsets.size())
    throw PstError(PstErrorCode::InvalidArgument, "not a HID of this heap in memory");
}

std::span<const std::uint8_t> HeapBuilder::read(Hid hid) const {
  checkHid(hid);
  const Block& b = blocks_[hid >> 16];
  const std::uint32_t index = (hid >> 5) & 0x7FF;
  const std::size_t start = b.offsets[index - 1];
  const std::size_t end = index < b.offsets.size() ? b.offsets[index] : b.bytes.size();
  return std::span<const std::uint8_t>(b.bytes.data() + start, end - start);
}

void HeapBuilder::free(Hid hid) {
  checkHid(hid);
  Block& b = blocks_[hid >> 16];
  const std::uint32_t index = (hid >> 5) & 0x7FF;
  const std::size_t start = b.offsets[index - 1];
  const std::size_t end = index < b.offsets.size() ? b.offsets[index] : b.bytes.size();
  const auto size = static_cast<std::uint16_t>(end - start);
  b.bytes.erase(b.bytes.begin() + static_cast<std::ptrdiff_t>(start), b.bytes.begin() + static_cast<std::ptrdiff_t>(end));
  for (std::size_t k = index; k < b.offsets.size(); ++k) b.offsets[k] = static_cast<std::uint16_t>(b.offsets[k] - size);
}

void HeapBuilder::seal(std::size_t block) {
  Block& b = blocks_[block];
  if (b.sealed || block + 1 == blocks_.size()) return;
  b.sealedLevel = level(block);
  b.sealed = true;
  std::vector<std::uint8_t>().swap(b.bytes);  // `= {}` would keep the capacity
  std::vector<std::uint16_t>().swap(b.offsets);
}

std::vector<std::uint8_t> HeapBuilder::finishBlock(std::size_t i) const {
  if (blocks_[i].sealed) throw PstError(PstErrorCode::InvalidArgument, "heap block no longer in memory");
  auto packLevels = [&](std::uint8_t* out, std::size_t first, std::size_t count) {
    for (std::size_t k = 0; k < count && first + k < blocks_.size(); ++k)
      out[k / 2] = static_cast<std::uint8_t>(out[k / 2] | (level(first + k) << (4 * (k % 2))));
  };
  std::vector<std::uint8_t> bytes = blocks_[i].bytes;
  const std::vector<std::uint16_t>& offsets = blocks_[i].offsets;
  const auto end = static_cast<std::uint16_t>(bytes.size());
  std::uint16_t freed = 0;
  for (std::size_t k = 0; k < offsets.size(); ++k)
    if ((k + 1 < offsets.size() ? offsets[k + 1] : end) == offsets[k]) ++freed;
  if (bytes.size() & 1) bytes.push_back(0);  // the page map is 2-byte aligned
  const auto ibHnpm = static_cast<std::uint16_t>(bytes.size());
  ByteWriter w(bytes);
  w.u16(static_cast<std::uint16_t>(offsets.size()));  // cAlloc
  w.u16(freed);                                        // cFree
  for (std::uint16_t o : offsets) w.u16(o);
  w.u16(end);
  storeLe16(bytes.data(), ibHnpm);
  if (i == 0) {
    // HNHDR ([MS-PST] 2.3.1.2).
    bytes[2] = kHeapSignature;
    bytes[3] = static_cast<std::uint8_t>(client_);
    storeLe32(bytes.data() + 4, userRoot_);
    packLevels(bytes.data() + 8, 0, 8);
  } else if (i % 128 == 8) {
    // HNBITMAPHDR ([MS-PST] 2.3.1.4): fill levels of the next 128 blocks.
    packLevels(bytes.data() + 2, i, 128);
  }
  return bytes;
}

std::vector<std::vector<std::uint8_t>> HeapBuilder::finish() const {
  std::vector<std::vector<std::uint8_t>> out;
  out.reserve(blocks_.size());
  for (std::size_t i = 0; i < blocks_.size(); ++i) out.push_back(finishBlock(i));
  return out;
}

}  // namespace vexl::pst
