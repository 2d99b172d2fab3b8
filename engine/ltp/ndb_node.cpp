// Node data assembly: open (sizes, crypt mode, subnodes), reading data
// blocks and the whole stream, and the used marks.
#include "engine/ltp/ndb_node.h"

#include <algorithm>
#include <cstring>

namespace vexl {

namespace {

// What one open of a top-level node may still spend on its subnodes, and
// the subnode trees of the nodes being opened above the current one.
struct OpenBounds {
  std::uint32_t versionsLeft = kMaxSubnodeVersions;
  std::vector<std::uint64_t> ancestorTrees;
};

CryptMode detectCryptMode(NdbFormat& format, std::uint64_t dataBid) {
  const BlockEntry* e = format.findDataBlock(dataBid, 0);
  if (e == nullptr) return CryptMode::Unknown;
  std::vector<unsigned char> raw(e->cb);
  if (format.readAt(e->offset, raw.data(), e->cb) < e->cb) return CryptMode::Unknown;
  if (looksLikeHeap(raw.data(), raw.size())) return CryptMode::None;
  std::vector<unsigned char> copy = raw;
  format.decode(CryptMode::Permute, copy.data(), copy.size(), e->bid);
  if (looksLikeHeap(copy.data(), copy.size())) return CryptMode::Permute;
  copy = raw;
  format.decode(CryptMode::Cyclic, copy.data(), copy.size(), e->bid);
  if (looksLikeHeap(copy.data(), copy.size())) return CryptMode::Cyclic;
  return CryptMode::Unknown;
}

// The most data a tree can hold by its root's cEnt: a damaged lcbTotal
// beyond it would only add zero bytes (and could ask for gigabytes).
std::uint64_t treeCapacity(NdbFormat& format, std::uint64_t bid) {
  const BlockEntry* e = format.blockIndex().find(bid);
  const std::uint64_t payload = format.blockPayloadSize();
  if (e == nullptr || (bid & 2) == 0) return payload;
  const NdbLayout& L = format.layout();
  unsigned char head[8];
  if (format.readAt(e->offset, head, sizeof head) < sizeof head) return 0;
  const std::uint64_t room = e->cb > L.xblockBidArrayOffset ? (e->cb - L.xblockBidArrayOffset) / L.refWidth : 0;
  const std::uint64_t cEnt = std::min<std::uint64_t>(loadLe16(head + 2), room);
  if (head[0] == 1 && head[1] == 1) return cEnt * payload;
  if (head[0] == 1 && head[1] == 2) return cEnt * ((payload - L.xblockBidArrayOffset) / L.refWidth) * payload;
  return e->cb;
}

void openNode(NdbNode& node, CryptMode mode, std::uint32_t nesting, OpenBounds& bounds) {
  node.totalSize = 0;
  node.blockCount = 0;
  node.subnodeMap.reset();
  if (node.format == nullptr) return;
  NdbFormat& format = *node.format;
  const std::uint32_t payload = format.blockPayloadSize();
  node.totalSize = format.dataTreeSize(node.dataBid);
  if (node.totalSize != 0)
    node.totalSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(node.totalSize, treeCapacity(format, node.dataBid)));
  // Blocks lost from a tree read as zeros at their place, but no stream
  // holds more zeros than the whole file has bytes: a tree naming one block
  // (or none) a million times would otherwise claim gigabytes of a small
  // file. Only a tree claiming more than the file is walked for this.
  if (node.totalSize > payload && node.totalSize > format.sourceLength()) {
    const std::uint64_t bound = format.sourceLength() + format.distinctDataBytes(node.dataBid);
    node.totalSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(node.totalSize, bound));
  }
  node.blockCount = node.totalSize == 0 ? 0 : static_cast<std::uint32_t>((std::uint64_t{node.totalSize} + payload - 1) / payload);
  node.cryptMode = mode == CryptMode::Unknown ? detectCryptMode(format, node.dataBid) : mode;

  const std::uint64_t tree = node.subnodeBid & ~std::uint64_t{1};
  if (tree == 0 || nesting >= kMaxSubnodeNesting || bounds.versionsLeft == 0) return;
  if (std::find(bounds.ancestorTrees.begin(), bounds.ancestorTrees.end(), tree) != bounds.ancestorTrees.end())
    return;  // a subnode tree leading back to an ancestor's
  auto map = std::make_unique<NodeMap>();
  if (format.loadSubnodes(tree, *map) == 0) return;
  std::uint32_t versions = 0;
  for (const auto& list : map->lists()) versions += static_cast<std::uint32_t>(list.versions.size());
  if (versions > bounds.versionsLeft) return;
  bounds.versionsLeft -= versions;
  node.subnodeMap = std::move(map);
  bounds.ancestorTrees.push_back(tree);
  for (auto& list : node.subnodeMap->mutableLists())
    if (!list.versions.empty()) openNode(list.versions.back(), node.cryptMode, nesting + 1, bounds);
  bounds.ancestorTrees.pop_back();
}

}  // namespace

bool looksLikeHeap(const unsigned char* b, std::size_t n) {
  if (n < 18) return false;
  const std::uint16_t ibHnpm = loadLe16(b);
  if (ibHnpm < 12 || (ibHnpm & 1) != 0 || ibHnpm > n - 6) return false;
  if (b[2] != 0xEC) return false;
  return b[3] == 0x6C || b[3] == 0x7C || b[3] == 0x8C || b[3] == 0xBC;
}

void NdbNode::open(CryptMode mode) {
  OpenBounds bounds;
  openNode(*this, mode, 0, bounds);
}

void NdbNode::close() { subnodeMap.reset(); }

int NdbNode::readBlock(std::uint32_t index, std::vector<unsigned char>& buffer) const {
  buffer.clear();
  if (format == nullptr) return 0;
  const BlockEntry* e = format->findDataBlock(dataBid, index);
  if (e == nullptr) return 0;
  buffer.assign(e->cb, 0);
  if (format->readAt(e->offset, buffer.data(), e->cb) < e->cb) return 0;
  format->decode(cryptMode, buffer.data(), buffer.size(), e->bid);
  return 1;
}

std::shared_ptr<const std::vector<unsigned char>> NdbNode::readCachedBlock(std::uint32_t index) const {
  if (format == nullptr) return nullptr;
  const BlockEntry* e = format->findDataBlock(dataBid, index);
  if (e == nullptr) return nullptr;
  return format->readDecodedBlock(*e, cryptMode);
}

int NdbNode::readData(std::vector<unsigned char>& buffer) const {
  buffer.assign(totalSize, 0);
  if (format == nullptr) return 1;
  const std::uint64_t payload = format->blockPayloadSize();
  std::vector<unsigned char> block;
  for (std::uint32_t index = 0; index < blockCount; ++index) {
    if (readBlock(index, block) == 0) continue;
    const std::uint64_t at = index * payload;
    if (at >= totalSize) continue;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), totalSize - at));
    std::memcpy(buffer.data() + at, block.data(), n);
  }
  return 1;
}

int NdbNode::readSubnodeData(std::uint32_t subnodeNid, std::vector<unsigned char>& buffer) const {
  buffer.clear();
  const NdbNode* sub = subnodes().find(subnodeNid);
  if (sub == nullptr) return 0;
  return sub->readData(buffer);
}

void NdbNode::markUsed(std::uint32_t mark) {
  usedMark = mark;
  if (format == nullptr) return;
  for (std::uint64_t bid : {dataBid, subnodeBid}) {
    if (bid == 0) continue;
    if (BlockEntry* e = format->blockIndex().find(bid)) e->usedMark = mark;
  }
}

}  // namespace vexl
