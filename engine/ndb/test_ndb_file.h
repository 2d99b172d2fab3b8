// Test support for the index rebuild and the node layer: hand-built B-tree
// pages and internal blocks, and an image written to a temporary file and
// scanned through an NdbFormat.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/engine_context.h"
#include "engine/file/file64_ex.h"
#include "engine/ndb/ndb_format.h"
#include "engine/ndb/test_ndb_support.h"

namespace vexl::testing {

struct BbtEntry {
  std::uint64_t bid, ib;
  std::uint16_t cb;
};
struct NbtEntry {
  std::uint64_t nid, dataBid, subnodeBid;
  std::uint32_t parentNid;
};
struct SlEntry {
  std::uint64_t nid, dataBid, subnodeBid;
};
struct SiEntry {
  std::uint64_t nid, bid;
};

// Writers over an NdbImage; pages and blocks carry the signature of the
// place they are written to unless a wSig is given.
class TreeBuilder {
 public:
  explicit TreeBuilder(const NdbLayout& layout) : layout(layout), image(layout) {}
  const NdbLayout& layout;
  NdbImage image;

  void bbtLeaf(std::uint64_t offset, std::uint64_t pageBid, const std::vector<BbtEntry>& entries);
  void nbtLeaf(std::uint64_t offset, std::uint64_t pageBid, const std::vector<NbtEntry>& entries);
  // An intermediate page (cLevel >= 1) of BTENTRYs naming `children`.
  void btPage(std::uint64_t offset, std::uint8_t ptype, std::uint8_t level, std::uint64_t pageBid,
              const std::vector<BlockRef>& children);
  void header(BlockRef nbt, BlockRef bbt);
  // A block with its own signature; returns its BREF.
  BlockRef block(std::uint64_t offset, std::uint64_t bid, const std::vector<unsigned char>& payload);
  BlockRef block(std::uint64_t offset, std::uint64_t bid, const std::vector<unsigned char>& payload,
                 std::uint16_t wSig);

  // Payloads of internal blocks.
  std::vector<unsigned char> xblock(std::uint8_t level, std::uint32_t lcbTotal, const std::vector<std::uint64_t>& bids,
                                    std::uint16_t cEnt = 0xFFFF) const;
  std::vector<unsigned char> slblock(const std::vector<SlEntry>& entries) const;
  std::vector<unsigned char> siblock(const std::vector<SiEntry>& entries) const;

 private:
  void page(std::uint64_t offset, std::uint8_t ptype, std::uint8_t level, std::uint64_t pageBid, std::uint32_t cEnt);
};

// A heap-looking payload (passes the heap check) of `size` bytes.
std::vector<unsigned char> heapPayload(std::size_t size, std::uint8_t fill);
// Bytes with no zero byte.
std::vector<unsigned char> noisePayload(std::size_t size, std::uint64_t seed);

// An image on disk, opened and scanned (scanFile: scan and rebuild). Zero
// blocks are ignored by default: a zero-filled image holds chance ones
// wherever an entry looks like a trailer.
class ScannedFile {
 public:
  ScannedFile(const NdbLayout& layout, const std::vector<unsigned char>& bytes, bool ignoreZero = true);
  ~ScannedFile();
  NdbFormat& format() { return *format_; }
  std::uint32_t count() const { return count_; }

 private:
  class Engine;
  std::string path_;
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<CFile64Ex> file_;
  std::unique_ptr<NdbFormat> format_;
  std::uint32_t count_ = 0;
};

std::vector<unsigned char> readWholeFile(const std::string& path);
// The .ost and .pst files of a directory, sorted.
std::vector<std::string> sampleFiles(const std::string& directory);

}  // namespace vexl::testing
