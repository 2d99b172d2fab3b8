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

 private:
  struct Block {
    std::vector<std::uint8_t> bytes;  // header and allocations
    std::vector<std::uint16_t> offsets;
  };
  std::uint32_t headerSize(std::size_t blockIndex) const;
  std::uint32_t used(const Block& b) const;

  const NdbFormat& format_;
  HeapClient client_;
  Hid userRoot_ = 0;
  std::vector<Block> blocks_;
};

}  // namespace vexl::pst
