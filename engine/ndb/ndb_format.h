// NdbFormat: everything that depends on the [MS-PST] NDB variant behind one
// interface, over the open source file. The layout differences live in an
// NdbLayout table (ndb_layout.h); AnsiNdbFormat and UnicodeNdbFormat only
// choose theirs, so a further variant is one more table and subclass and
// no caller changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/core/engine_context.h"
#include "engine/file/file64_ex.h"
#include "engine/ndb/decoded_block_cache.h"
#include "engine/ndb/ndb_index.h"
#include "engine/ndb/ndb_layout.h"
#include "engine/ndb/ndb_records.h"
#include "engine/ndb/ndb_scan.h"
#include "engine/ndb/node_map.h"

namespace vexl {

class NdbFormat {
 public:
  NdbFormat(EngineContext& engine, CFile64Ex& source, const NdbLayout& layout);
  virtual ~NdbFormat();
  NdbFormat(const NdbFormat&) = delete;
  NdbFormat& operator=(const NdbFormat&) = delete;

  // The operations in their virtual-table order.

  // A valid BBT or NBT page in the first 512 of `count` bytes read at
  // `position` (the position plays no part).
  virtual bool isBTreePage(std::uint64_t position, const unsigned char* bytes, std::uint32_t count) const;
  // A valid HEADER in `count` bytes read at `position`.
  virtual bool isHeader(std::uint64_t position, const unsigned char* bytes, std::uint32_t count) const;
  // The whole-file scan, then the index rebuild (block index, node index);
  // the count of distinct BIDs plus distinct NIDs.
  virtual std::uint32_t scanFile(std::uint8_t startPercent, std::uint32_t divisor);
  // The roots of data trees (blocks no XBLOCK / XXBLOCK names) and of subnode
  // trees (SLBLOCKs / SIBLOCKs no other subnode block names); their counts.
  virtual std::uint32_t collectDataTreeRoots();
  virtual std::uint32_t collectSubnodeTreeRoots();
  // Node data assembly over the block index. The index-th data block of the
  // data tree rooted at `bid`, or null.
  virtual BlockEntry* findDataBlock(std::uint64_t bid, std::uint32_t index);
  // The size of the data stored under `bid` (lcbTotal of an XBLOCK /
  // XXBLOCK, cb of a data block, 0 when unknown).
  virtual std::uint32_t dataTreeSize(std::uint64_t bid);
  // Replaces `nodeMap` with the subnode tree rooted at `bid`; the number of
  // NIDs loaded.
  virtual std::uint32_t loadSubnodes(std::uint64_t bid, NodeMap& nodeMap);
  // 8180 (ANSI) or 8176 (Unicode).
  virtual std::uint32_t blockPayloadSize() const;
  virtual std::uint16_t computeSig(std::uint64_t ib, std::uint64_t bid) const;
  virtual void permute(unsigned char* buffer, std::size_t count, bool encode) const;
  virtual void cyclic(unsigned char* buffer, std::size_t count, std::uint32_t key) const;
  virtual std::uint32_t computeCrc(std::uint32_t start, const unsigned char* bytes, std::size_t count) const;
  // Duplicate ranking and the index rebuild.
  virtual void rankPage(const PageEntry& page, std::int32_t mark, PageMaps& pageMaps, DuplicateMap& duplicates);
  virtual bool rankReference(const BlockRef& bref, std::int32_t mark, PageMap& levelMap, PageMaps& pageMaps,
                             DuplicateMap& duplicates);
  virtual void rankDuplicates(const std::optional<BlockRef>& root, PageMaps& pageMaps, DuplicateMap& duplicates);
  virtual std::uint32_t buildBlockIndex(const std::optional<BlockRef>& rootBbt, PageMaps& bbtPageMaps,
                                        BlockIndex& blockIndex);
  virtual std::uint32_t buildNodeIndex(const std::optional<BlockRef>& rootNbt, PageMaps& nbtPageMaps,
                                       NodeMap& nodeIndex);

  // Seeks the source to `offset` and reads up to `count` bytes.
  std::uint32_t readAt(std::uint64_t offset, void* buffer, std::uint32_t count);
  // The whole-file scan alone, without the rebuild (the scan report).
  void scanOnly(std::uint8_t startPercent, std::uint32_t divisor);
  // An internal block read in full (allocatedSize bytes) into `buffer`
  // (kMaxInternalBlock bytes); false on a short read.
  bool readInternalBlock(const BlockEntry& entry, unsigned char* buffer);
  // Bytes held by the data blocks the data tree rooted at `bid` can reach,
  // each distinct block counted once: what a stream read from the tree can
  // hold beyond zeros. An upper bound (blocks are counted wherever a walk
  // by findDataBlock could reach them).
  std::uint64_t distinctDataBytes(std::uint64_t bid);
  // The source file's length.
  std::uint64_t sourceLength();
  // The CryptMode decoding of a data block's bytes (key: the block's BID).
  void decode(CryptMode mode, unsigned char* bytes, std::size_t count, std::uint64_t bid) const;
  // Data block `entry` read in full (cb bytes) and decoded with `mode`, from
  // the decoded-block cache when it holds it; null on a short read, which
  // is not cached.
  DecodedBlockCache::Block readDecodedBlock(const BlockEntry& entry, CryptMode mode);
  const DecodedBlockCache& decodedBlocks() const { return decodedBlocks_; }

  const NodeMap& nodeIndex() const { return nodeIndex_; }
  NodeMap& nodeIndex() { return nodeIndex_; }
  const BidSet& dataTreeRoots() const { return dataTreeRoots_; }
  const BidSet& subnodeTreeRoots() const { return subnodeTreeRoots_; }

  const NdbLayout& layout() const { return layout_; }
  const BlockIndex& blockIndex() const { return scan_.blocks; }
  BlockIndex& blockIndex() { return scan_.blocks; }
  // Everything the last scan recorded: blocks, B-tree pages per type and
  // level, the kept HEADER. The page maps and the HEADER are the rebuild's
  // input and are released by it.
  const ScanResults& scanResults() const { return scan_; }
  // ROOT.BREFBBT / ROOT.BREFNBT of the kept HEADER, when one was kept.
  std::optional<BlockRef> rootBbt() const;
  std::optional<BlockRef> rootNbt() const;

 protected:
  // The subnode tree rooted at `bid` into `nodeMap`; only blocks of a level
  // below `levelAbove` are walked.
  void loadSubnodeTree(std::uint64_t bid, NodeMap& nodeMap, std::uint32_t levelAbove);

  EngineContext& engine_;
  CFile64Ex& source_;
  const NdbLayout& layout_;
  ScanResults scan_;
  NodeMap nodeIndex_{kNodeIndexBuckets};
  BidSet dataTreeRoots_{kBlockIndexBuckets};
  BidSet subnodeTreeRoots_{kBlockIndexBuckets};
  DecodedBlockCache decodedBlocks_;
};

inline constexpr std::uint32_t kMaxInternalBlock = 8192;
// Bounds of the tree walks over damaged files: the deepest data tree
// (XXBLOCK, XBLOCK, data block) and subnode tree (SIBLOCK, SLBLOCK).
inline constexpr std::uint32_t kMaxDataTreeDepth = 3;
inline constexpr std::uint32_t kMaxSubnodeTreeDepth = 2;

class AnsiNdbFormat final : public NdbFormat {
 public:
  AnsiNdbFormat(EngineContext& engine, CFile64Ex& source) : NdbFormat(engine, source, kAnsiLayout) {}
};

class UnicodeNdbFormat final : public NdbFormat {
 public:
  UnicodeNdbFormat(EngineContext& engine, CFile64Ex& source) : NdbFormat(engine, source, kUnicodeLayout) {}
};

// ScanSource over an open source file and the engine's callback.
class EngineScanSource final : public ScanSource {
 public:
  EngineScanSource(EngineContext& engine, CFile64Ex& file) : engine_(engine), file_(file) {}
  std::uint64_t length() override;
  std::uint32_t readAt(std::uint64_t offset, void* buffer, std::uint32_t count) override;
  void progress(std::uint8_t percent, std::uint64_t position) override;
  bool queryAbort(std::uint64_t position) override;
  void finished(std::uint64_t position) override;

 private:
  EngineContext& engine_;
  CFile64Ex& file_;
};

// The variant decision: 32 for ANSI, 64 for Unicode.
std::uint8_t decideVariant(EngineContext& engine, CFile64Ex& source, AnsiNdbFormat& ansiFormat,
                           UnicodeNdbFormat& unicodeFormat, std::uint8_t startPercent, std::uint32_t divisor);
// The counts behind it.
VariantCounts countVariants(EngineContext& engine, CFile64Ex& source, std::uint8_t startPercent,
                            std::uint32_t divisor);

}  // namespace vexl
