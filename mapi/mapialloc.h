// MAPI's linked memory allocation.
//
// MAPIAllocateBuffer gives a root block. MAPIAllocateMore gives a block
// linked to a root: it is never freed on its own, but together with its root
// by one MAPIFreeBuffer of the root. Every record a MAPI call hands out (a
// property array with its strings, binaries and multi-value arrays, a row, a
// problem array) is one root with its linked blocks, so one MAPIFreeBuffer
// releases it whole.
//
// Design: each block is preceded by a 32-byte header holding a magic word
// (root, linked, or freed), the owning root, and the link to the next block
// of the same root; a root keeps the list of its linked blocks. Consequences:
// - Returned memory is aligned to 16 bytes (any MAPI record needs 8). The
//   contents are not initialised, as in MAPI.
// - MAPIAllocateMore accepts a root or a linked block as its parent; the new
//   block is linked to the root in either case.
// - MAPIFreeBuffer(nullptr) succeeds and does nothing. MAPIFreeBuffer of a
//   linked block is refused (MAPI_E_INVALID_PARAMETER) and frees nothing.
// - The magic word lets both calls refuse a block that is already freed or
//   was linked where a root was required, as long as its memory has not been
//   reused. A pointer that never came from these calls cannot be recognised
//   safely (its header would be read from memory it does not own); passing
//   one is undefined, exactly as it is in MAPI.
// - Separate roots may be used on separate threads; one root and its linked
//   blocks belong to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapi/mapidefs.h"

namespace vexl::mapi {

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
ULONG MAPIFreeBuffer(LPVOID lpBuffer);

using ALLOCATEBUFFER = SCODE(ULONG, LPVOID*);
using ALLOCATEMORE = SCODE(ULONG, LPVOID, LPVOID*);
using FREEBUFFER = ULONG(LPVOID);
using LPALLOCATEBUFFER = ALLOCATEBUFFER*;
using LPALLOCATEMORE = ALLOCATEMORE*;
using LPFREEBUFFER = FREEBUFFER*;

// Not part of MAPI: support for tests of this and of the layers above.

// Number of blocks (roots and linked blocks) currently allocated.
std::size_t mapiLiveBlockCount();

// After `successes` more successful allocations, every further allocation
// fails with MAPI_E_NOT_ENOUGH_MEMORY until mapiClearAllocationFailure().
void mapiFailAllocationsAfter(std::uint64_t successes);
void mapiClearAllocationFailure();

}  // namespace vexl::mapi
