#include "engine/ltp/heap_on_node.h"

#include "engine/ndb/ndb_layout.h"

namespace vexl {

int readHeapItem(const NdbNode& node, std::uint32_t hid, std::vector<unsigned char>& buffer) {
  buffer.clear();
  const std::uint32_t index = hidIndex(hid);
  if (index == 0) return 0;  // allocations count from 1
  const auto shared = node.readCachedBlock(hidBlockIndex(hid));
  if (shared == nullptr || shared->size() < 2) return 0;
  const std::vector<unsigned char>& block = *shared;
  const std::size_t ibHnpm = loadLe16(block.data());
  // HNPAGEMAP: cAlloc, cFree, rgibAlloc[]; allocation k spans
  // rgibAlloc[k-1] .. rgibAlloc[k]. cAlloc is not trusted: the entry only
  // has to lie within the block.
  const std::size_t entry = ibHnpm + 4 + 2 * std::size_t{index - 1};
  if (entry + 4 > block.size()) return 0;
  const std::size_t start = loadLe16(block.data() + entry);
  const std::size_t end = loadLe16(block.data() + entry + 2);
  if (end < start || end > block.size()) return 0;
  buffer.assign(block.begin() + static_cast<std::ptrdiff_t>(start), block.begin() + static_cast<std::ptrdiff_t>(end));
  return 1;
}

HeapKind heapKind(const NdbNode& node) {
  const auto block = node.readCachedBlock(0);
  if (block == nullptr || block->size() < kHeapHeaderSize) return HeapKind::Other;
  if ((*block)[3] == kHeapSigTable) return HeapKind::Table;
  if ((*block)[3] == kHeapSigPropertyContext) return HeapKind::PropertyContext;
  return HeapKind::Other;
}

}  // namespace vexl
