// The node record and the versioned node map ([MS-PST] NBT and subnode
// entries). They live with the node database because the index rebuild and
// the subnode loader create them; the operations that open and read a node
// (open, close, readBlock, readCachedBlock, readData, readSubnodeData,
// markUsed, isUsed) belong to the lists-tables-properties layer and are defined there
// (engine/ltp, library vexl_ltp). Nothing in this layer calls them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/ndb/ndb_records.h"

namespace vexl {

class NdbFormat;
class NodeMap;

// How one node's data blocks are enciphered.
enum class CryptMode : std::uint8_t { Unknown = 0, None = 1, Permute = 2, Cyclic = 3 };

// One version of a node: an NBTENTRY of the node index or an SLENTRY of a
// subnode tree. Owned by the NodeMap list that holds it.
struct NdbNode {
  NdbNode() = default;
  NdbNode(NdbFormat* format, std::uint32_t nid, std::uint64_t dataBid, std::uint64_t subnodeBid,
          std::uint32_t parentNid, std::uint64_t entryPosition)
      : format(format), dataBid(dataBid), subnodeBid(subnodeBid), entryPosition(entryPosition), nid(nid),
        parentNid(parentNid) {}
  NdbNode(const NdbNode& other);
  NdbNode& operator=(const NdbNode& other);
  NdbNode(NdbNode&&) noexcept;
  NdbNode& operator=(NdbNode&&) noexcept;
  ~NdbNode();

  NdbFormat* format = nullptr;  // the source file's variant (not owned)
  std::uint64_t dataBid = 0;
  std::uint64_t subnodeBid = 0;
  std::uint64_t entryPosition = 0;  // file offset of the NBTENTRY / SLENTRY
  std::uint32_t nid = 0;
  std::uint32_t parentNid = 0;  // 0 for subnodes
  std::int32_t treeRank = 0;
  std::uint32_t totalSize = 0;
  std::uint32_t blockCount = 0;
  std::uint32_t usedMark = 0;
  CryptMode cryptMode = CryptMode::Unknown;
  std::vector<std::uint32_t> childNids;
  // The subnodes loaded by open; null while there are none.
  std::unique_ptr<NodeMap> subnodeMap;

  // Versions are equal when nid, dataBid, subnodeBid and parentNid are.
  bool operator==(const NdbNode& other) const {
    return nid == other.nid && dataBid == other.dataBid && subnodeBid == other.subnodeBid &&
           parentNid == other.parentNid;
  }

  // The subnode map (an empty one when open found none).
  const NodeMap& subnodes() const;

  // Node data assembly (defined in engine/ltp/ndb_node.cpp).
  // Sizes, crypt mode (Unknown asks for detection) and subnodes, which are
  // opened in turn with this node's mode.
  void open(CryptMode mode);
  // Drops what open loaded (the subnodes). A node of the file-wide index is
  // opened for the one recovery that writes it; kept there, every message's
  // subnode map would stay until the end of the run.
  void close();
  // 1 when the index-th data block was found, read in full and decoded.
  int readBlock(std::uint32_t index, std::vector<unsigned char>& buffer) const;
  // The same block shared with the format's decoded-block cache, or null
  // where readBlock gives 0. For the heap-on-node layer, which comes back
  // to the same few blocks for every item; streams read each block once
  // and go through readBlock, so they do not push a heap's blocks out.
  std::shared_ptr<const std::vector<unsigned char>> readCachedBlock(std::uint32_t index) const;
  // The whole stream of totalSize bytes, zero where blocks are lost; 1.
  int readData(std::vector<unsigned char>& buffer) const;
  // The data of subnode `nid` (last version); 0 and empty when none.
  int readSubnodeData(std::uint32_t nid, std::vector<unsigned char>& buffer) const;
  // Marks the node and the block index entries of dataBid and subnodeBid.
  void markUsed(std::uint32_t mark);
  std::uint32_t isUsed() const { return usedMark; }
};

// NID -> versions; the last version of a list is the node. 17 buckets for a
// subnode map, kNodeIndexBuckets for the file-wide node index.
class NodeMap : public VersionMap<NdbNode, ~std::uint64_t{0}, 17> {
 public:
  using VersionMap::VersionMap;
};

inline NdbNode::NdbNode(const NdbNode& other)
    : format(other.format), dataBid(other.dataBid), subnodeBid(other.subnodeBid),
      entryPosition(other.entryPosition), nid(other.nid), parentNid(other.parentNid), treeRank(other.treeRank),
      totalSize(other.totalSize), blockCount(other.blockCount), usedMark(other.usedMark),
      cryptMode(other.cryptMode), childNids(other.childNids),
      subnodeMap(other.subnodeMap ? std::make_unique<NodeMap>(*other.subnodeMap) : nullptr) {}
inline NdbNode& NdbNode::operator=(const NdbNode& other) {
  if (this != &other) *this = NdbNode(other);
  return *this;
}
inline NdbNode::NdbNode(NdbNode&&) noexcept = default;
inline NdbNode& NdbNode::operator=(NdbNode&&) noexcept = default;
inline NdbNode::~NdbNode() = default;

inline const NodeMap& NdbNode::subnodes() const {
  static const NodeMap kEmpty;
  return subnodeMap ? *subnodeMap : kEmpty;
}

}  // namespace vexl
