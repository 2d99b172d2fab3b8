// The NDB layer writer ([MS-PST] 2.2.2): a PST file being written, with its
// HEADER and ROOT (2.2.2.5, 2.2.2.6), allocation maps (2.2.2.7.2-2.2.2.7.6),
// density list (2.2.2.7.4), the BBT and NBT B-trees (2.2.2.7.7), data blocks
// with their BLOCKTRAILER (2.2.2.8), data trees (XBLOCK / XXBLOCK,
// 2.2.2.8.3.2) and subnode trees (SLBLOCK / SIBLOCK, 2.2.2.8.3.3).
//
// Blocks go to disk as they are added. Memory holds the allocation bits of
// intervals with free space (496 bytes per 248 KiB of file), the B-trees'
// intermediate levels and the leaves changed since the last commit;
// unchanged leaves are read back from their pages when needed (about 6
// bytes per node and block in all).
// Nothing written since the last commit is reachable from the HEADER until
// the next commit. create() is the first commit point: until it returns the
// file is not yet a PST.
//
// Commit points and the integrity rule ([MS-PST] 2.6.1.3, "Maintaining data
// integrity"): commit() writes, in this order,
//   1. the changed B-tree pages, each to a new page (copy on write), leaves
//      before the intermediate pages that reference them;
//   2. the changed AMap pages, and the PMap, FMap and FPMap pages of new
//      intervals, in place; their bits mark the space of the previous commit
//      and of this one both as allocated, so they are right for either HEADER;
//   3. fdatasync;
//   4. the HEADER (new ROOT, bidNextB, bidNextP, dwUnique, rgnid[], both
//      CRCs), a single write at offset 0;
//   5. fdatasync.
// Only after step 5 does space that the previous commit referenced and this
// one no longer does (replaced pages, blocks whose cRef fell to 0) become
// free for reuse. Space allocated since the last commit is never referenced
// by the committed HEADER, so it is reused at once when dropped. A stop at
// any moment therefore leaves a file whose HEADER describes the last
// completed commit, with every page and block it reaches intact and marked
// allocated. (A stop inside step 2 leaves the previous HEADER's cbAMapFree
// a little above what the AMaps now show free; it is a statistic.) The
// HEADER write is one pwrite of 512 or 564 bytes at offset 0, which a killed
// process cannot tear; a power loss that tears a sector is not covered, as
// the format keeps no second HEADER.
// The caller chooses when to commit (the messaging layer commits at folder
// saves, every few MiB of messages and at close).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "mapi/pst/allocation_map.h"
#include "mapi/pst/ndb_types.h"
#include "mapi/pst/page_btree.h"
#include "mapi/pst/pst_file.h"

namespace vexl::pst {

struct NdbWriterOptions {
  Variant variant = Variant::Unicode;
  CryptMethod crypt = CryptMethod::Permute;
  // 0: the variant's own limit (ANSI: offsets are signed 32-bit, so the file
  // stays below 2 GiB; Unicode: none).
  std::uint64_t maxFileSize = 0;
};

inline constexpr std::uint64_t kAnsiMaxFileSize = 0x7FFFFFFF;

// SLENTRY ([MS-PST] 2.2.2.8.3.3.1.1): a subnode already written.
struct SubnodeRef {
  Nid nid = 0;
  Bid data = 0;
  Bid sub = 0;
};

// A node's content before it is written: its data as explicit blocks (a
// heap-on-node needs one block per heap page) and its subnodes.
struct SubnodeContent;
struct NodeContent {
  std::vector<std::vector<std::uint8_t>> blocks;
  std::vector<SubnodeContent> subnodes;
};
struct SubnodeContent {
  Nid nid = 0;
  NodeContent content;
};

// BBTENTRY ([MS-PST] 2.2.2.7.7.3) in memory; refs is cRef less the one
// reference Outlook counts for the entry itself.
struct BbtEntry {
  Bid bid = 0;
  Ib ib = 0;
  std::uint16_t cb = 0;
  std::uint32_t refs = 0;
  std::uint64_t key() const { return bid; }
};

// NBTENTRY ([MS-PST] 2.2.2.7.7.4).
struct NbtEntry {
  Nid nid = 0;
  Bid data = 0;
  Bid sub = 0;
  Nid parent = 0;
  std::uint64_t key() const { return nid; }
};

class NdbWriter {
 public:
  // Creates the file (replacing one at `path`) and commits the empty state.
  static std::unique_ptr<NdbWriter> create(const std::string& path, const NdbWriterOptions& options);
  ~NdbWriter();
  NdbWriter(const NdbWriter&) = delete;
  NdbWriter& operator=(const NdbWriter&) = delete;

  const NdbFormat& format() const { return format_; }
  CryptMethod crypt() const { return crypt_; }

  // --- Blocks -------------------------------------------------------------
  // One data block (payload at most format().maxBlockPayload()).
  Bid writeBlock(std::span<const std::uint8_t> payload);
  // A data tree over `bytes`: one block, an XBLOCK or an XXBLOCK; 0 for none.
  Bid writeData(std::span<const std::uint8_t> bytes);
  // A data tree whose blocks are exactly `blocks` (heap pages, row blocks).
  Bid writeDataBlocks(const std::vector<std::vector<std::uint8_t>>& blocks);
  // A subnode tree: one SLBLOCK, or an SIBLOCK over SLBLOCKs; 0 for none.
  Bid writeSubnodes(std::vector<SubnodeRef> entries);
  // Data and subnode trees of `content`, subnodes recursively.
  SubnodeRef writeContent(Nid nid, const NodeContent& content);

  // --- Reading back what was written (committed or not) --------------------
  // The decoded payload of one block.
  std::vector<std::uint8_t> readBlock(Bid bid) const;
  // The data blocks of a data tree, XBLOCK / XXBLOCK resolved; none for 0.
  std::vector<std::vector<std::uint8_t>> readDataBlocks(Bid bid) const;
  // The entries of a subnode tree, SIBLOCK resolved, in NID order.
  std::vector<SubnodeRef> readSubnodes(Bid bid) const;

  // --- Nodes ---------------------------------------------------------------
  void createNode(Nid nid, Nid parent, Bid data, Bid sub);
  void createNode(Nid nid, Nid parent, const NodeContent& content);
  void replaceNode(Nid nid, Nid parent, Bid data, Bid sub);
  void replaceNode(Nid nid, Nid parent, const NodeContent& content);
  void deleteNode(Nid nid);
  const NbtEntry* findNode(Nid nid) const { return nbt_.find(nid); }
  // The next NID of `type` from rgnid[] ([MS-PST] 2.2.2.6).
  Nid allocateNid(NidType type);

  // --- Commit -------------------------------------------------------------
  void commit();
  // After a failed commit the writer refuses further work; the file keeps
  // the state of the last completed commit.
  bool failed() const { return failed_; }
  // ibFileEof as the next commit will write it.
  std::uint64_t fileSize() const { return amap_.eof(); }
  // Bytes of blocks written since the last commit.
  std::uint64_t uncommittedBytes() const { return uncommittedBytes_; }
  std::uint64_t maxFileSize() const { return maxFileSize_; }

  // For tests and checks.
  const BbtEntry* findBlock(Bid bid) const { return bbt_.find(bid); }
  std::size_t blockCount() const { return bbt_.size(); }
  std::size_t nodeCount() const { return nbt_.size(); }

 private:
  friend class DataTreeWriter;
  NdbWriter(PstFile file, const NdbWriterOptions& options);

  Bid storeBlock(std::span<const std::uint8_t> payload, bool internal, const std::vector<Bid>& children);
  Bid storeXBlock(std::uint8_t level, const std::vector<Bid>& children, std::uint64_t total);
  Ib allocateSpace(std::uint32_t bytes, std::uint32_t alignment, bool forCommit);
  void releaseSpace(Ib ib, std::uint32_t bytes, bool committed);
  void clearSpace(Ib ib, std::uint32_t bytes);
  void addRef(Bid bid);
  void dropRef(Bid bid);
  void dropUnreferencedBlocks();
  template <typename Entry>
  Bref writeTreeNode(typename PageBTree<Entry>::Node& node, PageType type);
  void writeMapPages();
  void writeHeader(std::uint8_t amapValid);
  void writeDList();
  void writePageTrailer(std::uint8_t* page, PageType type, std::uint16_t sig, Bid bid) const;
  void checkUsable() const;
  // The BIDs an internal block references, read from the file.
  std::vector<Bid> childrenOf(Bid bid) const;

  const NdbFormat& format_;
  CryptMethod crypt_;
  std::uint64_t maxFileSize_;
  PstFile file_;
  AllocationMap amap_;
  PageBTree<BbtEntry> bbt_;
  PageBTree<NbtEntry> nbt_;
  Bref nbtRoot_{}, bbtRoot_{};

  Bid bidNextB_ = 4;
  Bid bidNextP_ = 1;
  std::uint32_t dwUnique_ = 0;
  std::array<std::uint32_t, 32> rgnid_{};

  std::unordered_set<Bid> unreferenced_;
  std::unordered_set<Bid> uncommitted_;
  struct Extent {
    Ib ib;
    std::uint32_t bytes;
  };
  std::vector<Extent> pendingFree_;
  std::size_t committedIntervals_ = 0;
  std::uint64_t uncommittedBytes_ = 0;
  bool failed_ = false;
};

// Streams a data tree: bytes are cut into full blocks and written as they
// arrive, so a large attachment never sits in memory whole.
class DataTreeWriter {
 public:
  explicit DataTreeWriter(NdbWriter& writer) : writer_(writer) {}
  void append(std::span<const std::uint8_t> bytes);
  // Ends the current block and writes `block` as a block of its own.
  void appendBlock(std::span<const std::uint8_t> block);
  // Ends the current block and takes a data block already written (a tree
  // that is rewritten around blocks that did not change).
  void appendWritten(Bid bid, std::uint32_t size);
  // The root BID (0 when nothing was appended).
  Bid finish();

 private:
  void flushPending();
  NdbWriter& writer_;
  std::vector<std::uint8_t> pending_;
  std::vector<Bid> leaves_;
  std::vector<std::uint32_t> leafSizes_;
};

}  // namespace vexl::pst
