// Heap-on-node builder ([MS-PST] 2.3.1): HNHDR on the first block,
// HNPAGEHDR on the following ones and HNBITMAPHDR on blocks 8, 136, 264...,
// an HNPAGEMAP at the end of every block, and HIDs ([MS-PST] 2.3.1.1) for
// the allocations. A heap spans as many blocks as its allocations need; the
// node's data tree then has one data block per heap block.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "mapi/pst/ndb_types.h"
#include "mapi/pst/prop_types.h"

namespace vexl::pst {

using Hid = std::uint32_t;
// HNID ([MS-PST] 2.3.3.2): a HID when the low 5 bits are 0, else a NID.
using Hnid = std::uint32_t;

// bClientSig of the HNHDR.
enum class HeapClient : std::uint8_t { TableContext = 0x7C, Bth = 0xB5, PropertyContext = 0xBC };

constexpr Hid makeHid(std::uint32_t blockIndex, std::uint32_t allocationIndex) {
  return (blockIndex << 16) | (allocationIndex << 5);
}

class HeapBuilder {
 public:
  HeapBuilder(const NdbFormat& format, HeapClient client);

  // A new allocation of at most kMaxHeapAllocation bytes.
  Hid allocate(std::span<const std::uint8_t> bytes);
  // Overwrites an allocation with bytes of the same size.
  void overwrite(Hid hid, std::span<const std::uint8_t> bytes);
  void setUserRoot(Hid hid) { userRoot_ = hid; }
  // The heap's blocks, ready for NdbWriter::writeDataBlocks.
  std::vector<std::vector<std::uint8_t>> finish() const;

  const NdbFormat& format() const { return format_; }

  // --- A heap that lives on across writes of its node ---------------------
  // Frees an allocation: it becomes empty and its HID slot stays, so the
  // HIDs after it keep their meaning ([MS-PST] 2.3.1.5, cFree).
  void free(Hid hid);
  // The bytes of an allocation of a block still in memory.
  std::span<const std::uint8_t> read(Hid hid) const;
  std::size_t blockCount() const { return blocks_.size(); }
  bool isSealed(std::size_t block) const { return blocks_[block].sealed; }
  // The block as it goes to disk (fill levels of the blocks it describes).
  std::vector<std::uint8_t> finishBlock(std::size_t block) const;
  // Drops a block's bytes from memory: it is on disk and will not change.
  // The last block takes the allocations, so it is never sealed.
  void seal(std::size_t block);
  // The block whose header holds `block`'s fill level (HNHDR or HNBITMAPHDR).
  static std::size_t levelHolder(std::size_t block) { return block < 8 ? 0 : 8 + (block - 8) / 128 * 128; }

 private:
  struct Block {
    std::vector<std::uint8_t> bytes;  // header and allocations
    std::vector<std::uint16_t> offsets;
    bool sealed = false;
    std::uint8_t sealedLevel = 0;
  };
  std::uint8_t level(std::size_t block) const;
  void checkHid(Hid hid) const;
  std::uint32_t headerSize(std::size_t blockIndex) const;
  std::uint32_t used(const Block& b) const;

  const NdbFormat& format_;
  HeapClient client_;
  Hid userRoot_ = 0;
  std::vector<Block> blocks_;
};

}  // namespace vexl::pst
