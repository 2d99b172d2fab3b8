#include "mapi/mapialloc.h"

#include <atomic>
#include <cstdlib>

namespace vexl::mapi {
namespace {

constexpr std::uint64_t kRootMagic = 0x544F4F5242494C56ull;    // "VLIBROOT"
constexpr std::uint64_t kLinkedMagic = 0x4B4E494C42494C56ull;  // "VLIBLINK"
constexpr std::uint64_t kFreedMagic = 0x4545524642494C56ull;   // "VLIBFREE"

struct alignas(16) BlockHeader {
  std::uint64_t magic;
  BlockHeader* root;  // a linked block's root; null for a root
  BlockHeader* next;  // a root: its first linked block; a linked block: the next one of its root
  std::uint64_t size;
};
static_assert(sizeof(BlockHeader) == 32);
static_assert(alignof(std::max_align_t) >= alignof(BlockHeader), "malloc must align headers");

std::atomic<std::size_t> liveBlocks{0};
std::atomic<bool> failureArmed{false};
std::atomic<std::uint64_t> successesLeft{0};

bool allocationAllowed() {
  if (!failureArmed.load(std::memory_order_relaxed)) return true;
  std::uint64_t left = successesLeft.load(std::memory_order_relaxed);
  while (left > 0) {
    if (successesLeft.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

BlockHeader* newBlock(ULONG cbSize, std::uint64_t magic, BlockHeader* root) {
  if (!allocationAllowed()) return nullptr;
  void* raw = std::malloc(sizeof(BlockHeader) + cbSize);
  if (raw == nullptr) return nullptr;
  auto* header = static_cast<BlockHeader*>(raw);
  header->magic = magic;
  header->root = root;
  header->next = nullptr;
  header->size = cbSize;
  liveBlocks.fetch_add(1, std::memory_order_relaxed);
  return header;
}

void releaseBlock(BlockHeader* header) {
  // Volatile so that the store before free() is not optimised away.
  *static_cast<volatile std::uint64_t*>(&header->magic) = kFreedMagic;
  std::free(header);
  liveBlocks.fetch_sub(1, std::memory_order_relaxed);
}

BlockHeader* headerOf(LPVOID block) { return static_cast<BlockHeader*>(block) - 1; }
LPVOID userOf(BlockHeader* header) { return header + 1; }

}  // namespace

SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
  if (lppBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
  BlockHeader* header = newBlock(cbSize, kRootMagic, nullptr);
  if (header == nullptr) {
    *lppBuffer = nullptr;
    return MAPI_E_NOT_ENOUGH_MEMORY;
  }
  *lppBuffer = userOf(header);
  return S_OK;
}

SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
  if (lppBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
  *lppBuffer = nullptr;
  if (lpObject == nullptr) return MAPI_E_INVALID_PARAMETER;
  BlockHeader* parent = headerOf(lpObject);
  BlockHeader* root = nullptr;
  if (parent->magic == kRootMagic) {
    root = parent;
  } else if (parent->magic == kLinkedMagic) {
    root = parent->root;
  } else {
    return MAPI_E_INVALID_PARAMETER;
  }
  BlockHeader* header = newBlock(cbSize, kLinkedMagic, root);
  if (header == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
  header->next = root->next;
  root->next = header;
  *lppBuffer = userOf(header);
  return S_OK;
}

ULONG MAPIFreeBuffer(LPVOID lpBuffer) {
  if (lpBuffer == nullptr) return S_OK;
  BlockHeader* root = headerOf(lpBuffer);
  if (root->magic != kRootMagic) return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
  BlockHeader* linked = root->next;
  while (linked != nullptr) {
    BlockHeader* next = linked->next;
    releaseBlock(linked);
    linked = next;
  }
  releaseBlock(root);
  return S_OK;
}

std::size_t mapiLiveBlockCount() { return liveBlocks.load(std::memory_order_relaxed); }

void mapiFailAllocationsAfter(std::uint64_t successes) {
  successesLeft.store(successes, std::memory_order_relaxed);
  failureArmed.store(true, std::memory_order_relaxed);
}

void mapiClearAllocationFailure() { failureArmed.store(false, std::memory_order_relaxed); }

}  // namespace vexl::mapi
