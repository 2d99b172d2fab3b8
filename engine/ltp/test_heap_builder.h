// Test support for the item layer: heaps-on-node built allocation by
// allocation, property contexts and table contexts on them, and a node with
// its data blocks and subnodes written to a file and opened.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/ltp/ndb_node.h"
#include "engine/ndb/test_ndb_file.h"

namespace vexl::testing {

using Bytes = std::vector<unsigned char>;

Bytes le16(std::uint16_t v);
Bytes le32(std::uint32_t v);
Bytes operator+(Bytes a, const Bytes& b);
Bytes utf16le(const std::u16string& s);

// A heap-on-node: HNHDR in block 0, HNPAGEHDR in the others, page maps at
// the end of each block's allocations.
class HeapBuilder {
 public:
  explicit HeapBuilder(std::uint8_t clientSig) : clientSig(clientSig), blocks_(1) {}
  std::uint8_t clientSig;
  std::uint32_t userRoot = 0;

  // A new allocation in `block`; its HID.
  std::uint32_t add(const Bytes& bytes, std::uint16_t block = 0);
  // The data blocks' payloads.
  std::vector<Bytes> build() const;

 private:
  std::vector<std::vector<Bytes>> blocks_;
};

struct PcRecord {
  std::uint16_t id, type;
  std::uint32_t hnid;
};
// A BTHHEADER with cbKey 2, cbEnt 6 and a leaf of `records` (split into
// index records over leaves of `perLeaf` records when perLeaf is not 0);
// sets the user root.
void addPcBth(HeapBuilder& heap, const std::vector<PcRecord>& records, std::size_t perLeaf = 0);

struct TcColumn {
  std::uint32_t tag;
  std::uint16_t ibData;
  std::uint8_t cbData, iBit;
};
// A TCINFO: rgib[TCI_1b] = ceb, rgib[TCI_bm] = rowSize, hnidRows; a row
// index BTH (empty) beside it. Sets the user root; the TCINFO's HID.
std::uint32_t addTcInfo(HeapBuilder& heap, const std::vector<TcColumn>& columns, std::uint16_t ceb,
                        std::uint16_t rowSize, std::uint32_t hnidRows, std::size_t extraBytes = 0);

// One node and its subnodes, written (Unicode variant unless told) and
// opened with crypt detection. A data block given empty is named by the
// data tree but written nowhere. A subnode may have subnodes of its own;
// one marked `holdersTree` (hostile) names as its subnode tree the one that
// holds it, a cycle.
struct SubnodeSpec {
  std::uint32_t nid;
  std::vector<Bytes> blocks;
  std::vector<SubnodeSpec> subnodes = {};
  bool holdersTree = false;
};
class NodeFile {
 public:
  explicit NodeFile(const std::vector<Bytes>& blocks, const std::vector<SubnodeSpec>& subnodes = {},
                    const NdbLayout& layout = kUnicodeLayout);
  ~NodeFile();
  NdbNode& node() { return *node_; }

 private:
  std::unique_ptr<ScannedFile> file_;
  std::unique_ptr<NdbNode> node_;
};

}  // namespace vexl::testing
