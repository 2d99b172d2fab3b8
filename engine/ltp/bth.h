// The BTH ([MS-PST] 2.3.2) of a heap: the property context's user root, or
// the row index of a table context. walkBth hands every leaf record to a
// visitor, in storage order.
#pragma once

#include <cstdint>
#include <type_traits>

#include "engine/ltp/heap_on_node.h"

namespace vexl {

// One leaf record: the heap's bClientSig, the key (cbKey bytes) and the data
// just behind it (cbEnt bytes). Both pointers are valid only during the call.
using BthVisitor = void (*)(std::uint8_t clientSig, const unsigned char* key, std::uint8_t cbKey,
                            const unsigned char* data, std::uint8_t cbEnt, void* context);

// 1 when the HNHDR (bClientSig 0x7C or 0xBC), the user root and the
// BTHHEADER were found, the records then visited; else 0. With bIdxLevels 1
// the root holds index records whose leaf allocations are visited in
// turn; with 0, or any other value, the root's records are the leaf records.
int walkBth(const NdbNode& node, BthVisitor visitor, void* context);

// walkBth with any callable taking the visitor's first five arguments.
template <typename F>
int walkBthWith(const NdbNode& node, F&& f) {
  return walkBth(
      node,
      [](std::uint8_t sig, const unsigned char* key, std::uint8_t cbKey, const unsigned char* data,
         std::uint8_t cbEnt, void* context) { (*static_cast<std::remove_reference_t<F>*>(context))(sig, key, cbKey, data, cbEnt); },
      &f);
}

}  // namespace vexl
