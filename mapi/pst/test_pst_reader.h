// Test support: an independent reader of the files the writer produces,
// strict about every check [MS-PST] defines (HEADER and page CRCs, page and
// block signatures, BREF BIDs, key order, AMap coverage, reference counts),
// so tests see a broken invariant as a failure with a reason.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "mapi/pst/ndb_types.h"
#include "mapi/pst/prop_types.h"

namespace vexl::pst::test {

struct ReadNode {
  Nid nid = 0;
  Bid data = 0;
  Bid sub = 0;
  Nid parent = 0;
};

struct ReadBlock {
  Bid bid = 0;
  Ib ib = 0;
  std::uint16_t cb = 0;
  std::uint16_t cRef = 0;
};

struct ReadSubnode {
  Bid data = 0;
  Bid sub = 0;
};

class PstReader {
 public:
  // Reads and checks the whole NDB structure; problems() lists what failed.
  explicit PstReader(const std::string& path);

  const std::vector<std::string>& problems() const { return problems_; }
  Variant variant() const { return variant_; }
  CryptMethod crypt() const { return crypt_; }
  std::uint64_t fileEof() const { return eof_; }
  std::uint64_t bidNextB() const { return bidNextB_; }
  std::uint64_t bidNextP() const { return bidNextP_; }
  std::uint32_t dwUnique() const { return dwUnique_; }
  std::uint32_t rgnid(NidType t) const { return rgnid_[static_cast<std::size_t>(t)]; }
  int nbtDepth() const { return nbtDepth_; }
  int bbtDepth() const { return bbtDepth_; }
  // Leaf pages of each B-tree.
  int nbtLeaves() const { return nbtLeaves_; }
  int bbtLeaves() const { return bbtLeaves_; }
  // Blocks that neither a node nor another block references (a leak in a
  // file we wrote; Outlook's files have a few); set by checkAllocationAndRefs.
  std::size_t unreferencedBlocks() const { return unreferenced_; }
  const std::map<Nid, ReadNode>& nodes() const { return nodes_; }
  const std::map<Bid, ReadBlock>& blocks() const { return blocks_; }

  // Decoded payload of one block.
  std::vector<std::uint8_t> block(Bid bid);
  // The data blocks of a data tree, in order (XBLOCK / XXBLOCK resolved).
  std::vector<std::vector<std::uint8_t>> dataBlocks(Bid bid);
  std::vector<std::uint8_t> data(Bid bid);
  std::map<Nid, ReadSubnode> subnodes(Bid bid);
  // Checks AMap pages and reference counts against the trees; adds problems.
  // A file cut short inside a commit may carry AMaps that are a superset
  // of the committed allocation; `exactFree` false then accepts a
  // cbAMapFree above the free space the AMaps show.
  void checkAllocationAndRefs(bool exactFree = true);

 private:
  void fail(const std::string& what) { problems_.push_back(what); }
  std::vector<std::uint8_t> readAt(Ib ib, std::size_t n) const;
  void walk(Ib ib, Bid bid, bool nbt, int expectLevel, std::uint64_t minKey, int depth);
  std::vector<std::uint8_t> rawBlock(Bid bid);

  std::string path_;
  std::vector<std::uint8_t> file_;
  Variant variant_ = Variant::Unicode;
  CryptMethod crypt_ = CryptMethod::None;
  std::uint64_t eof_ = 0, amapLast_ = 0, amapFree_ = 0, bidNextB_ = 0, bidNextP_ = 0;
  std::uint32_t dwUnique_ = 0;
  std::uint32_t rgnid_[32] = {};
  Bref nbtRoot_{}, bbtRoot_{};
  int nbtDepth_ = 0, bbtDepth_ = 0;
  int nbtLeaves_ = 0, bbtLeaves_ = 0;
  std::size_t unreferenced_ = 0;
  std::map<Nid, ReadNode> nodes_;
  std::map<Bid, ReadBlock> blocks_;
  std::set<Ib> pages_;
  std::vector<std::string> problems_;
};

// LTP views over a node's data.
struct HeapView {
  std::vector<std::vector<std::uint8_t>> blocks;
  std::uint8_t clientSig = 0;
  std::uint32_t userRoot = 0;
  std::vector<std::uint8_t> get(std::uint32_t hid) const;
};
HeapView readHeap(PstReader& reader, Bid data, std::vector<std::string>& problems);
// BTH records (key bytes, data bytes) in order.
std::vector<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> readBth(const HeapView& heap,
                                                                                    std::uint32_t hid,
                                                                                    int* levels = nullptr);
// A PC's values by tag; subnode values are resolved through `subnodes`.
std::map<PropTag, std::vector<std::uint8_t>> readPc(PstReader& reader, const ReadNode& node,
                                                    std::vector<std::string>& problems);
struct TcView {
  std::vector<std::uint32_t> columns;  // tags in TCOLDESC order
  std::vector<std::map<PropTag, std::vector<std::uint8_t>>> rows;  // present cells only
  std::vector<std::uint32_t> rowIds;                               // in row-index order
};
TcView readTc(PstReader& reader, const ReadNode& node, std::vector<std::string>& problems);

}  // namespace vexl::pst::test
