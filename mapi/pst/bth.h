// BTree-on-Heap builder ([MS-PST] 2.3.2): BTHHEADER, leaf records and as
// many intermediate levels as the records need, each level's records in
// heap allocations of at most 3580 bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "mapi/pst/heap_on_node.h"

namespace vexl::pst {

struct BthRecord {
  std::uint64_t key = 0;           // stored little-endian in cbKey bytes
  std::vector<std::uint8_t> data;  // cbEnt bytes
};

// Writes a BTH into `heap` over `records` (any order; keys unique) and
// returns the HID of its BTHHEADER. `header` is an 8-byte allocation made
// earlier for the BTHHEADER (so that it can come first in the heap), or 0
// to allocate it now.
Hid buildBth(HeapBuilder& heap, Hid header, std::uint8_t cbKey, std::uint8_t cbEnt, std::vector<BthRecord> records);

// A leaf or intermediate allocation of a BTH and the first key under it.
struct BthChild {
  std::uint64_t firstKey = 0;
  Hid hid = 0;
};
// Records per leaf allocation.
inline std::size_t bthLeafCapacity(std::uint8_t cbKey, std::uint8_t cbEnt) { return kMaxHeapAllocation / (cbKey + cbEnt); }
// Leaf bytes of `records` (sorted by key).
std::vector<std::uint8_t> bthLeafBytes(const std::vector<BthRecord>& records, std::uint8_t cbKey, std::uint8_t cbEnt);
// The intermediate levels over `leaves` (in key order) and the BTHHEADER at
// `header`; returns the HIDs of the intermediate allocations it made.
std::vector<Hid> writeBthIndex(HeapBuilder& heap, Hid header, std::uint8_t cbKey, std::uint8_t cbEnt,
                               std::vector<BthChild> leaves);
inline Hid reserveBthHeader(HeapBuilder& heap) { return heap.allocate(std::vector<std::uint8_t>(8, 0)); }

}  // namespace vexl::pst
