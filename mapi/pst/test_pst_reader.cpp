#include "mapi/pst/test_pst_reader.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>

#include "mapi/pst/allocation_map.h"
#include "mapi/pst/byte_writer.h"
#include "mapi/pst/ndb_crypt.h"

namespace vexl::pst::test {

namespace {
std::string hex(std::uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}
}  // namespace

PstReader::PstReader(const std::string& path) : path_(path) {
  std::ifstream in(path, std::ios::binary);
  file_.assign(std::istreambuf_iterator<char>(in), {});
  if (file_.size() < 564 || std::string(file_.begin(), file_.begin() + 4) != "!BDN") {
    fail("no HEADER");
    return;
  }
  const std::uint8_t* h = file_.data();
  const std::uint16_t wVer = loadLe16(h + 10);
  variant_ = wVer >= 23 ? Variant::Unicode : Variant::Ansi;
  const NdbFormat& f = formatFor(variant_);
  const std::uint32_t r = f.refSize;
  if (loadLe32(h + 4) != computeCrc({h + 8, 471})) fail("dwCRCPartial");
  const std::uint8_t* root;
  if (variant_ == Variant::Unicode) {
    if (loadLe32(h + 524) != computeCrc({h + 8, 516})) fail("dwCRCFull");
    bidNextP_ = loadLe64(h + 32);
    dwUnique_ = loadLe32(h + 40);
    for (int i = 0; i < 32; ++i) rgnid_[i] = loadLe32(h + 44 + 4 * i);
    bidNextB_ = loadLe64(h + 516);
    root = h + 180;
    crypt_ = static_cast<CryptMethod>(h[513]);
    if (h[512] != 0x80) fail("bSentinel");
  } else {
    bidNextB_ = loadLe32(h + 24);
    bidNextP_ = loadLe32(h + 28);
    dwUnique_ = loadLe32(h + 32);
    for (int i = 0; i < 32; ++i) rgnid_[i] = loadLe32(h + 36 + 4 * i);
    root = h + 164;
    crypt_ = static_cast<CryptMethod>(h[461]);
    if (h[460] != 0x80) fail("bSentinel");
  }
  const std::uint8_t* q = root + 4;
  eof_ = loadRef(q, r);
  amapLast_ = loadRef(q + r, r);
  amapFree_ = loadRef(q + 2 * r, r);
  nbtRoot_ = {loadRef(q + 4 * r, r), loadRef(q + 5 * r, r)};
  bbtRoot_ = {loadRef(q + 6 * r, r), loadRef(q + 7 * r, r)};
  if (q[8 * r] != kAMapValid2) fail("fAMapValid");
  if (eof_ > file_.size()) fail("ibFileEof past the end of the file");
  if ((eof_ - AllocationMap::kFirstAMapIb) % AllocationMap::kIntervalSize != 0) fail("ibFileEof not on an AMap interval");
  walk(nbtRoot_.ib, nbtRoot_.bid, true, -1, 0, 1);
  walk(bbtRoot_.ib, bbtRoot_.bid, false, -1, 0, 1);
}

std::vector<std::uint8_t> PstReader::readAt(Ib ib, std::size_t n) const {
  if (ib + n > file_.size()) return std::vector<std::uint8_t>(n, 0);
  return {file_.begin() + static_cast<std::ptrdiff_t>(ib), file_.begin() + static_cast<std::ptrdiff_t>(ib + n)};
}

void PstReader::walk(Ib ib, Bid bid, bool nbt, int expectLevel, std::uint64_t minKey, int depth) {
  const NdbFormat& f = formatFor(variant_);
  const std::uint32_t r = f.refSize;
  if (ib % 512 != 0) fail("page not 512-aligned at " + hex(ib));
  if (!pages_.insert(ib).second) fail("page referenced twice at " + hex(ib));
  const auto page = readAt(ib, 512);
  const std::uint8_t* t = page.data() + f.pageDataSize;
  const std::uint32_t crc = variant_ == Variant::Unicode ? loadLe32(t + 4) : loadLe32(t + 8);
  const Bid pageBid = variant_ == Variant::Unicode ? loadLe64(t + 8) : loadLe32(t + 4);
  if (t[0] != (nbt ? 0x81 : 0x80) || t[1] != t[0]) fail("ptype at " + hex(ib));
  if (loadLe16(t + 2) != computeSig(ib, bid)) fail("page wSig at " + hex(ib));
  if (crc != computeCrc({page.data(), f.pageDataSize})) fail("page CRC at " + hex(ib));
  if (pageBid != bid) fail("page BID differs from its BREF at " + hex(ib));
  const std::uint8_t* meta = page.data() + f.btEntryArea;
  const int cEnt = meta[0], cbEnt = meta[2], level = meta[3];
  if (expectLevel >= 0 && level != expectLevel) fail("cLevel at " + hex(ib));
  if (cEnt > meta[1]) fail("cEnt above cEntMax at " + hex(ib));
  int& depthOut = nbt ? nbtDepth_ : bbtDepth_;
  depthOut = std::max(depthOut, depth);
  if (level == 0) ++(nbt ? nbtLeaves_ : bbtLeaves_);
  std::uint64_t last = minKey;
  for (int i = 0; i < cEnt; ++i) {
    const std::uint8_t* e = page.data() + i * cbEnt;
    const std::uint64_t key = loadRef(e, r);
    if (i > 0 && key <= last) fail("keys out of order at " + hex(ib));
    if (i == 0 && key < minKey) fail("first key below the parent's btkey at " + hex(ib));
    last = key;
    if (level > 0) {
      if (cbEnt != static_cast<int>(f.btEntrySize)) fail("cbEnt of an intermediate page");
      walk(loadRef(e + 2 * r, r), loadRef(e + r, r), nbt, level - 1, key, depth + 1);
    } else if (nbt) {
      if (cbEnt != static_cast<int>(f.nbtEntrySize)) fail("cbEnt of an NBT leaf");
      ReadNode n{static_cast<Nid>(key), loadRef(e + r, r), loadRef(e + 2 * r, r), loadLe32(e + 3 * r)};
      nodes_[n.nid] = n;
    } else {
      if (cbEnt != static_cast<int>(f.bbtEntrySize)) fail("cbEnt of a BBT leaf");
      ReadBlock b{key, loadRef(e + r, r), loadLe16(e + 2 * r), loadLe16(e + 2 * r + 2)};
      blocks_[b.bid] = b;
    }
  }
}

std::vector<std::uint8_t> PstReader::rawBlock(Bid bid) {
  const NdbFormat& f = formatFor(variant_);
  auto it = blocks_.find(bid);
  if (it == blocks_.end()) {
    fail("block " + hex(bid) + " not in the BBT");
    return {};
  }
  const ReadBlock& b = it->second;
  const std::uint32_t alloc = f.blockAllocation(b.cb);
  if (b.ib % 64 != 0) fail("block not 64-aligned");
  if ((b.ib - AllocationMap::kFirstAMapIb) / AllocationMap::kIntervalSize !=
      (b.ib + alloc - 1 - AllocationMap::kFirstAMapIb) / AllocationMap::kIntervalSize)
    fail("block crosses an AMap interval");
  auto bytes = readAt(b.ib, alloc);
  const std::uint8_t* t = bytes.data() + alloc - f.blockTrailerSize;
  const bool unicode = variant_ == Variant::Unicode;
  if (loadLe16(t) != b.cb) fail("trailer cb of " + hex(bid));
  if (loadLe16(t + 2) != computeSig(b.ib, bid)) fail("block wSig of " + hex(bid));
  if ((unicode ? loadLe32(t + 4) : loadLe32(t + 8)) != computeCrc({bytes.data(), b.cb})) fail("block CRC of " + hex(bid));
  if ((unicode ? loadLe64(t + 8) : loadLe32(t + 4)) != bid) fail("trailer BID of " + hex(bid));
  bytes.resize(b.cb);
  return bytes;
}

std::vector<std::uint8_t> PstReader::block(Bid bid) {
  auto bytes = rawBlock(bid);
  if (!isInternalBid(bid)) decodeBlock(crypt_, bid, bytes);
  return bytes;
}

std::vector<std::vector<std::uint8_t>> PstReader::dataBlocks(Bid bid) {
  if (bid == 0) return {};
  if (!isInternalBid(bid)) return {block(bid)};
  const auto x = block(bid);
  const std::uint32_t r = formatFor(variant_).refSize;
  if (x.size() < 8 || x[0] != 0x01) {
    fail("not an XBLOCK: " + hex(bid));
    return {};
  }
  const std::uint16_t cEnt = loadLe16(x.data() + 2);
  const std::uint32_t total = loadLe32(x.data() + 4);
  std::vector<std::vector<std::uint8_t>> out;
  for (std::uint16_t i = 0; i < cEnt; ++i) {
    const Bid child = loadRef(x.data() + 8 + i * r, r);
    if (x[1] == 1) {
      if (isInternalBid(child)) fail("XBLOCK entry is internal");
      out.push_back(block(child));
    } else {
      for (auto& b : dataBlocks(child)) out.push_back(std::move(b));
    }
  }
  std::uint64_t sum = 0;
  for (const auto& b : out) sum += b.size();
  if (sum != total) fail("lcbTotal of " + hex(bid));
  return out;
}

std::vector<std::uint8_t> PstReader::data(Bid bid) {
  std::vector<std::uint8_t> out;
  for (const auto& b : dataBlocks(bid)) out.insert(out.end(), b.begin(), b.end());
  return out;
}

std::map<Nid, ReadSubnode> PstReader::subnodes(Bid bid) {
  std::map<Nid, ReadSubnode> out;
  if (bid == 0) return out;
  const auto b = block(bid);
  const NdbFormat& f = formatFor(variant_);
  const std::uint32_t r = f.refSize;
  if (b.size() < f.subnodeHeaderSize || b[0] != 0x02) {
    fail("not a subnode block: " + hex(bid));
    return out;
  }
  const std::uint16_t cEnt = loadLe16(b.data() + 2);
  Nid last = 0;
  for (std::uint16_t i = 0; i < cEnt; ++i) {
    if (b[1] == 0) {
      const std::uint8_t* e = b.data() + f.subnodeHeaderSize + i * 3 * r;
      const auto nid = static_cast<Nid>(loadRef(e, r));
      if (i > 0 && nid <= last) fail("SLBLOCK out of order");
      last = nid;
      out[nid] = {loadRef(e + r, r), loadRef(e + 2 * r, r)};
    } else {
      const std::uint8_t* e = b.data() + f.subnodeHeaderSize + i * 2 * r;
      for (auto& [k, v] : subnodes(loadRef(e + r, r))) out[k] = v;
    }
  }
  return out;
}

void PstReader::checkAllocationAndRefs(bool exactFree) {
  const NdbFormat& f = formatFor(variant_);
  // Every page and block lies in space the AMaps mark as allocated.
  const std::size_t intervals = (eof_ - AllocationMap::kFirstAMapIb) / AllocationMap::kIntervalSize;
  std::uint64_t freeBits = 0;
  auto bitSet = [&](Ib ib) {
    const std::uint64_t unit = (ib - AllocationMap::kFirstAMapIb) / 64;
    const Ib page = AllocationMap::intervalStart(unit / 3968);
    const std::size_t bit = unit % 3968;
    const std::uint32_t off = f.pageDataSize - 496;
    return (file_[page + off + bit / 8] & (0x80 >> (bit % 8))) != 0;
  };
  for (std::size_t i = 0; i < intervals; ++i) {
    const Ib ib = AllocationMap::intervalStart(i);
    const auto page = readAt(ib, 512);
    if (page[f.pageDataSize] != 0x84) fail("AMap ptype at " + hex(ib));
    if (computeCrc({page.data(), f.pageDataSize}) !=
        (variant_ == Variant::Unicode ? loadLe32(page.data() + 500) : loadLe32(page.data() + 508)))
      fail("AMap CRC at " + hex(ib));
    for (std::size_t b = 0; b < 496 * 8; ++b)
      if (!(page[f.pageDataSize - 496 + b / 8] & (0x80 >> (b % 8)))) ++freeBits;
    for (const MapPage& mp : AllocationMap::mapPagesOf(i)) {
      const auto p = readAt(mp.ib, 512);
      if (p[f.pageDataSize] != static_cast<std::uint8_t>(mp.type)) fail("map page type at " + hex(mp.ib));
      const std::uint32_t stored = variant_ == Variant::Unicode ? loadLe32(p.data() + 500) : loadLe32(p.data() + 508);
      if (stored != computeCrc({p.data(), f.pageDataSize})) fail("map page CRC at " + hex(mp.ib));
      const Bid bid = variant_ == Variant::Unicode ? loadLe64(p.data() + 504) : loadLe32(p.data() + 504);
      if (bid != mp.ib) fail("map page BID is not its IB at " + hex(mp.ib));
      if (!bitSet(mp.ib)) fail("map page not allocated at " + hex(mp.ib));
    }
  }
  if (intervals > 0 && amapLast_ != AllocationMap::intervalStart(intervals - 1)) fail("ibAMapLast");
  if (exactFree ? freeBits * 64 != amapFree_ : freeBits * 64 > amapFree_) fail("cbAMapFree " + std::to_string(amapFree_) + " vs " + std::to_string(freeBits * 64));
  for (Ib p : pages_)
    for (Ib u = p; u < p + 512; u += 64)
      if (!bitSet(u)) fail("page not allocated in the AMap at " + hex(p));
  for (const auto& [bid, b] : blocks_)
    for (Ib u = b.ib; u < b.ib + f.blockAllocation(b.cb); u += 64)
      if (!bitSet(u)) fail("block not allocated in the AMap: " + hex(bid));

  // cRef is one more than the references from NBT entries and internal blocks.
  std::map<Bid, std::uint32_t> refs;
  for (const auto& [nid, n] : nodes_) {
    if (n.data) ++refs[n.data];
    if (n.sub) ++refs[n.sub];
  }
  for (const auto& [bid, b] : blocks_) {
    if (!isInternalBid(bid)) continue;
    const auto x = block(bid);
    const std::uint32_t r = f.refSize;
    const std::uint16_t cEnt = loadLe16(x.data() + 2);
    if (x[0] == 0x01) {
      for (std::uint16_t i = 0; i < cEnt; ++i) ++refs[loadRef(x.data() + 8 + i * r, r)];
    } else if (x[1] == 0) {
      for (std::uint16_t i = 0; i < cEnt; ++i) {
        const std::uint8_t* e = x.data() + f.subnodeHeaderSize + i * 3 * r;
        if (Bid d = loadRef(e + r, r)) ++refs[d];
        if (Bid s = loadRef(e + 2 * r, r)) ++refs[s];
      }
    } else {
      for (std::uint16_t i = 0; i < cEnt; ++i) ++refs[loadRef(x.data() + f.subnodeHeaderSize + i * 2 * r + r, r)];
    }
  }
  unreferenced_ = 0;
  for (const auto& [bid, b] : blocks_) {
    if (b.cRef != refs[bid] + 1) fail("cRef of " + hex(bid) + " is " + std::to_string(b.cRef));
    if (refs[bid] == 0) ++unreferenced_;
  }
  for (const auto& [bid, n] : refs)
    if (!blocks_.count(bid)) fail("reference to a missing block " + hex(bid));
  if (!blocks_.empty() && blocks_.rbegin()->first >= bidNextB_) fail("bidNextB not above every BID");
}

// ------------------------------------------------------------------- LTP --

std::vector<std::uint8_t> HeapView::get(std::uint32_t hid) const {
  if (hid == 0) return {};
  const std::uint32_t bi = hid >> 16, idx = (hid >> 5) & 0x7FF;
  if (bi >= blocks.size()) return {};
  const auto& b = blocks[bi];
  const std::uint16_t ibHnpm = loadLe16(b.data());
  const std::uint16_t cAlloc = loadLe16(b.data() + ibHnpm);
  if (idx == 0 || idx > cAlloc) return {};
  const std::uint16_t start = loadLe16(b.data() + ibHnpm + 4 + 2 * (idx - 1));
  const std::uint16_t end = loadLe16(b.data() + ibHnpm + 4 + 2 * idx);
  return {b.begin() + start, b.begin() + end};
}

HeapView readHeap(PstReader& reader, Bid data, std::vector<std::string>& problems) {
  HeapView heap;
  heap.blocks = reader.dataBlocks(data);
  if (heap.blocks.empty() || heap.blocks[0].size() < 12 || heap.blocks[0][2] != 0xEC) {
    problems.push_back("not a heap-on-node");
    heap.blocks.clear();
    return heap;
  }
  heap.clientSig = heap.blocks[0][3];
  heap.userRoot = loadLe32(heap.blocks[0].data() + 4);
  for (std::size_t i = 0; i < heap.blocks.size(); ++i) {
    const auto& b = heap.blocks[i];
    const std::uint16_t ibHnpm = loadLe16(b.data());
    if (ibHnpm + 4u > b.size()) {
      problems.push_back("ibHnpm past the block");
      continue;
    }
    const std::uint16_t cAlloc = loadLe16(b.data() + ibHnpm);
    if (ibHnpm + 4u + 2u * (cAlloc + 1u) != b.size()) problems.push_back("HNPAGEMAP does not end the block");
    for (std::uint16_t a = 0; a < cAlloc; ++a)
      if (loadLe16(b.data() + ibHnpm + 4 + 2 * a) > loadLe16(b.data() + ibHnpm + 6 + 2 * a))
        problems.push_back("rgibAlloc not increasing");
  }
  return heap;
}

std::vector<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> readBth(const HeapView& heap,
                                                                                    std::uint32_t hid, int* levels) {
  std::vector<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> out;
  const auto h = heap.get(hid);
  if (h.size() != 8 || h[0] != 0xB5) return out;
  const std::uint8_t cbKey = h[1], cbEnt = h[2], idx = h[3];
  if (levels) *levels = idx;
  // Depth-first, children in order.
  std::function<void(std::uint32_t, int)> visit = [&](std::uint32_t node, int level) {
    if (node == 0) return;
    const auto d = heap.get(node);
    const std::size_t step = level == 0 ? cbKey + cbEnt : cbKey + 4u;
    for (std::size_t at = 0; at + step <= d.size(); at += step) {
      if (level == 0)
        out.emplace_back(std::vector<std::uint8_t>(d.begin() + static_cast<std::ptrdiff_t>(at),
                                                   d.begin() + static_cast<std::ptrdiff_t>(at + cbKey)),
                         std::vector<std::uint8_t>(d.begin() + static_cast<std::ptrdiff_t>(at + cbKey),
                                                   d.begin() + static_cast<std::ptrdiff_t>(at + step)));
      else
        visit(loadLe32(d.data() + at + cbKey), level - 1);
    }
  };
  visit(loadLe32(h.data() + 4), idx);
  return out;
}

std::map<PropTag, std::vector<std::uint8_t>> readPc(PstReader& reader, const ReadNode& node,
                                                    std::vector<std::string>& problems) {
  std::map<PropTag, std::vector<std::uint8_t>> out;
  const HeapView heap = readHeap(reader, node.data, problems);
  if (heap.blocks.empty()) return out;
  if (heap.clientSig != 0xBC) problems.push_back("not a PC");
  const auto subs = reader.subnodes(node.sub);
  for (const auto& [k, v] : readBth(heap, heap.userRoot)) {
    const std::uint16_t id = loadLe16(k.data());
    const PropType type = loadLe16(v.data());
    const std::uint32_t hnid = loadLe32(v.data() + 2);
    std::vector<std::uint8_t> value;
    if (isInlineInPc(type)) {
      for (std::uint32_t i = 0; i < fixedValueSize(type); ++i) value.push_back(static_cast<std::uint8_t>(hnid >> (8 * i)));
    } else if ((hnid & 0x1F) == 0) {
      value = heap.get(hnid);
    } else if (auto it = subs.find(hnid); it != subs.end()) {
      value = reader.data(it->second.data);
    } else {
      problems.push_back("PC value in a missing subnode");
    }
    out[makeTag(id, type)] = std::move(value);
  }
  return out;
}

TcView readTc(PstReader& reader, const ReadNode& node, std::vector<std::string>& problems) {
  TcView tc;
  const NdbFormat& f = formatFor(reader.variant());
  const HeapView heap = readHeap(reader, node.data, problems);
  if (heap.blocks.empty()) return tc;
  if (heap.clientSig != 0x7C) problems.push_back("not a TC");
  const auto info = heap.get(heap.userRoot);
  if (info.size() < 22 || info[0] != 0x7C) {
    problems.push_back("no TCINFO");
    return tc;
  }
  const std::uint8_t cCols = info[1];
  const std::uint16_t rowSize = loadLe16(info.data() + 8);
  const std::uint16_t cebStart = loadLe16(info.data() + 6);
  const std::uint32_t hidRowIndex = loadLe32(info.data() + 10);
  const std::uint32_t hnidRows = loadLe32(info.data() + 14);
  struct Col {
    PropTag tag;
    std::uint16_t ib;
    std::uint8_t cb, bit;
  };
  std::vector<Col> cols;
  for (std::uint8_t i = 0; i < cCols; ++i) {
    const std::uint8_t* c = info.data() + 22 + 8 * i;
    cols.push_back({loadLe32(c), loadLe16(c + 4), c[6], c[7]});
    tc.columns.push_back(loadLe32(c));
    if (i > 0 && cols[i].tag <= cols[i - 1].tag) problems.push_back("TCOLDESC not sorted by tag");
  }
  const auto subs = reader.subnodes(node.sub);
  std::vector<std::vector<std::uint8_t>> rowBlocks;
  if (hnidRows != 0) {
    if ((hnidRows & 0x1F) == 0) {
      rowBlocks.push_back(heap.get(hnidRows));
    } else if (auto it = subs.find(hnidRows); it != subs.end()) {
      rowBlocks = reader.dataBlocks(it->second.data);
    } else {
      problems.push_back("row matrix subnode missing");
    }
  }
  std::vector<std::vector<std::uint8_t>> rows;
  // [MS-PST] 2.3.4.4: each block holds floor(block payload / row size)
  // rows, the last one fewer; what follows the rows in a block is padding.
  const std::size_t perBlock = rowSize == 0 ? 0 : f.maxBlockPayload() / rowSize;
  for (std::size_t i = 0; i < rowBlocks.size(); ++i) {
    const auto& b = rowBlocks[i];
    const bool last = i + 1 == rowBlocks.size();
    if (last ? b.size() % rowSize != 0 : b.size() < perBlock * rowSize)
      problems.push_back("row block not a whole number of rows");
    for (std::size_t at = 0, n = 0; at + rowSize <= b.size() && n < perBlock; at += rowSize, ++n)
      rows.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + rowSize));
  }
  for (const auto& [k, v] : readBth(heap, hidRowIndex)) {
    const std::uint32_t id = loadLe32(k.data());
    std::uint32_t index = 0;
    for (std::uint32_t i = 0; i < f.rowIndexSize; ++i) index |= std::uint32_t{v[i]} << (8 * i);
    tc.rowIds.push_back(id);
    if (index >= rows.size()) {
      problems.push_back("row index past the rows");
      continue;
    }
    const auto& row = rows[index];
    if (loadLe32(row.data()) != id) problems.push_back("dwRowID of the row differs from the index");
    std::map<PropTag, std::vector<std::uint8_t>> cells;
    for (const Col& c : cols) {
      if (!(row[cebStart + c.bit / 8] & (0x80 >> (c.bit % 8)))) continue;
      std::vector<std::uint8_t> cell(row.begin() + c.ib, row.begin() + c.ib + c.cb);
      const PropType type = tagType(c.tag);
      if (fixedValueSize(type) != c.cb) {
        const std::uint32_t hnid = loadLe32(cell.data());
        if ((hnid & 0x1F) == 0)
          cell = heap.get(hnid);
        else if (auto it = subs.find(hnid); it != subs.end())
          cell = reader.data(it->second.data);
      }
      cells[c.tag] = std::move(cell);
    }
    tc.rows.push_back(std::move(cells));
  }
  if (tc.rowIds.size() != rows.size()) problems.push_back("row index and row matrix differ in size");
  return tc;
}

}  // namespace vexl::pst::test
