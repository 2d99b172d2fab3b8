// The heap-on-node ([MS-PST] 2.3.1) of one node: what the heap holds and
// the bytes of one allocation. Everything is read from the node's data
// blocks as it is requested, through the decoded-block cache of the node's
// format (engine/ndb/decoded_block_cache.h): the items of one heap share a
// few blocks, which are then read and decoded once, not once per item.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/ltp/ndb_node.h"

namespace vexl {

// bClientSig of the HNHDR, as far as this layer acts on it.
enum class HeapKind : std::uint8_t { Table = 0, PropertyContext = 1, Other = 2 };

inline constexpr std::uint8_t kHeapSigTable = 0x7C;
inline constexpr std::uint8_t kHeapSigPropertyContext = 0xBC;
// The HNHDR occupies the first 12 bytes of data block 0.
inline constexpr std::size_t kHeapHeaderSize = 12;

// HID fields ([MS-PST] 2.3.1.1).
constexpr std::uint32_t hidIndex(std::uint32_t hid) { return (hid >> 5) & 0x7FF; }
constexpr std::uint32_t hidBlockIndex(std::uint32_t hid) { return hid >> 16; }
// An HNID is a HID when its low 5 bits are 0, else a subnode's NID.
constexpr bool hnidIsNid(std::uint32_t hnid) { return (hnid & 0x1F) != 0; }

// 1 and the bytes of allocation `hid` (possibly none), or 0 and an empty
// buffer: block hidBlockIndex unreadable, hidIndex 0, the page map entry
// outside the block, or offsets running backwards or past the block.
int readHeapItem(const NdbNode& node, std::uint32_t hid, std::vector<unsigned char>& buffer);

// From bClientSig of data block 0; Other when block 0 is unreadable or
// shorter than the HNHDR.
HeapKind heapKind(const NdbNode& node);

}  // namespace vexl
