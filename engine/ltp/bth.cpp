#include "engine/ltp/bth.h"

#include "engine/ndb/ndb_layout.h"

namespace vexl {

namespace {

struct Walk {
  const NdbNode& node;
  std::uint8_t clientSig;
  std::uint8_t cbKey;
  std::uint8_t cbEnt;
  BthVisitor visitor;
  void* context;

  // The records of one allocation; index records name leaf allocations,
  // which are visited as leaves (one level of index is followed).
  void visit(std::uint32_t hid, bool index) const {
    if (hid == 0) return;
    std::vector<unsigned char> items;
    if (readHeapItem(node, hid, items) == 0) return;
    const std::size_t size = index ? std::size_t{cbKey} + 4 : std::size_t{cbKey} + cbEnt;
    if (size == 0) return;
    const std::size_t count = items.size() / size;
    for (std::size_t i = 0; i < count; ++i) {
      const unsigned char* record = items.data() + i * size;
      if (index)
        visit(loadLe32(record + cbKey), false);
      else
        visitor(clientSig, record, cbKey, record + cbKey, cbEnt, context);
    }
  }
};

}  // namespace

int walkBth(const NdbNode& node, BthVisitor visitor, void* context) {
  const auto block = node.readCachedBlock(0);
  if (block == nullptr || block->size() < kHeapHeaderSize) return 0;
  const std::uint8_t clientSig = (*block)[3];
  const std::uint32_t hidUserRoot = loadLe32(block->data() + 4);
  if (clientSig != kHeapSigTable && clientSig != kHeapSigPropertyContext) return 0;
  std::vector<unsigned char> root;
  if (hidUserRoot == 0 || readHeapItem(node, hidUserRoot, root) == 0) return 0;
  if (clientSig == kHeapSigTable) {
    // The user root is the TCINFO; its hidRowIndex names the BTHHEADER.
    if (root.size() < 38) return 0;
    const std::uint32_t hidRowIndex = loadLe32(root.data() + 10);
    std::vector<unsigned char> header;
    if (hidRowIndex == 0 || readHeapItem(node, hidRowIndex, header) == 0) return 0;
    root.swap(header);
  }
  if (root.size() < 8) return 0;
  const Walk walk{node, clientSig, root[1], root[2], visitor, context};
  walk.visit(loadLe32(root.data() + 4), root[3] == 1);
  return 1;
}

}  // namespace vexl
