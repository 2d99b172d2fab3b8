#include "mapi/pst/ndb_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>
#include <type_traits>

#include "mapi/pst/byte_writer.h"
#include "mapi/pst/ndb_crypt.h"
#include "mapi/pst/pst_error.h"

namespace vexl::pst {

namespace {

// Space kept back from data so that a commit can still write its pages and
// maps when the data has reached the file size limit.
constexpr std::uint64_t kCommitReserve = 8 * AllocationMap::kIntervalSize;
constexpr Ib kDListIb = 0x4200;
constexpr std::uint8_t kBlockTypeData = 0x01;  // XBLOCK / XXBLOCK btype
constexpr std::uint8_t kBlockTypeSubnode = 0x02;

// rgnid[] of a new file ([MS-PST] 2.2.2.6); allocation pre-increments, so
// the first normal folder is index 0x401 as in files Outlook creates.
std::array<std::uint32_t, 32> initialRgnid() {
  std::array<std::uint32_t, 32> r{};
  r.fill(0x400);
  r[static_cast<std::size_t>(NidType::SearchFolder)] = 0x4000;
  r[static_cast<std::size_t>(NidType::NormalMessage)] = 0x10000;
  r[static_cast<std::size_t>(NidType::AssocMessage)] = 0x8000;
  return r;
}

}  // namespace

std::unique_ptr<NdbWriter> NdbWriter::create(const std::string& path, const NdbWriterOptions& options) {
  std::unique_ptr<NdbWriter> w(new NdbWriter(PstFile::createNew(path), options));
  w->amap_.grow();
  if (w->format_.variant == Variant::Unicode) w->writeDList();
  w->commit();
  return w;
}

NdbWriter::NdbWriter(PstFile file, const NdbWriterOptions& options)
    : format_(formatFor(options.variant)),
      crypt_(options.crypt),
      maxFileSize_(options.maxFileSize != 0 ? options.maxFileSize
                   : options.variant == Variant::Ansi ? kAnsiMaxFileSize
                                                      : std::numeric_limits<std::uint64_t>::max()),
      file_(std::move(file)),
      bbt_(format_.bbtLeafCapacity(), format_.btIntermediateCapacity()),
      nbt_(format_.nbtLeafCapacity(), format_.btIntermediateCapacity()),
      rgnid_(initialRgnid()) {
  if (options.variant == Variant::Ansi && maxFileSize_ > kAnsiMaxFileSize) maxFileSize_ = kAnsiMaxFileSize;
  // Evicted leaves come back from their pages ([MS-PST] 2.2.2.7.7.3, 2.2.2.7.7.4).
  const std::uint32_t r = format_.refSize;
  bbt_.setLoader([this, r](const Bref& page, std::vector<BbtEntry>& entries) {
    std::vector<std::uint8_t> p(format_.pageSize);
    file_.read(page.ib, p);
    for (std::uint8_t i = 0; i < p[format_.btEntryArea]; ++i) {
      const std::uint8_t* e = p.data() + i * format_.bbtEntrySize;
      entries.push_back(BbtEntry{loadRef(e, r), loadRef(e + r, r), loadLe16(e + 2 * r),
                                 static_cast<std::uint32_t>(loadLe16(e + 2 * r + 2) - 1)});
    }
  });
  nbt_.setLoader([this, r](const Bref& page, std::vector<NbtEntry>& entries) {
    std::vector<std::uint8_t> p(format_.pageSize);
    file_.read(page.ib, p);
    for (std::uint8_t i = 0; i < p[format_.btEntryArea]; ++i) {
      const std::uint8_t* e = p.data() + i * format_.nbtEntrySize;
      entries.push_back(NbtEntry{static_cast<Nid>(loadRef(e, r)), loadRef(e + r, r), loadRef(e + 2 * r, r),
                                 loadLe32(e + 3 * r)});
    }
  });
}

NdbWriter::~NdbWriter() = default;

void NdbWriter::checkUsable() const {
  if (failed_) throw PstError(PstErrorCode::Io, "the writer stopped after a failed commit");
}

// ---------------------------------------------------------------- space --

Ib NdbWriter::allocateSpace(std::uint32_t bytes, std::uint32_t alignment, bool forCommit) {
  for (;;) {
    if (auto ib = amap_.allocate(bytes, alignment)) return *ib;
    const std::uint64_t grown = amap_.eof() + AllocationMap::kIntervalSize;
    const std::uint64_t limit =
        forCommit ? maxFileSize_ : (maxFileSize_ > kCommitReserve ? maxFileSize_ - kCommitReserve : 0);
    if (grown > limit)
      throw PstError(PstErrorCode::FileTooLarge,
                     "the PST file would pass its size limit of " + std::to_string(maxFileSize_) + " bytes");
    amap_.grow();
  }
}

void NdbWriter::releaseSpace(Ib ib, std::uint32_t bytes, bool committed) {
  if (committed) {
    pendingFree_.push_back({ib, bytes});
  } else {
    clearSpace(ib, bytes);
    amap_.release(ib, bytes);
  }
}

// Space goes back to the AMap only once no committed HEADER reaches it, and
// then as zeros: a stale page or block left in free space looks like a
// deleted node to readers that scan unallocated space for lost items, and

void NdbWriter::clearSpace(Ib ib, std::uint32_t bytes) {
  static const std::vector<std::uint8_t> zeros(8192, 0);
  while (bytes > 0) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, zeros.size()));
    file_.write(ib, std::span<const std::uint8_t>(zeros.data(), n));
    ib += n;
    bytes -= n;
  }
}

// --------------------------------------------------------------- blocks --

Bid NdbWriter::storeBlock(std::span<const std::uint8_t> payload, bool internal, const std::vector<Bid>& children) {
  checkUsable();
  if (payload.size() > format_.maxBlockPayload())
    throw PstError(PstErrorCode::InvalidArgument, "block payload larger than a block");
  const auto cb = static_cast<std::uint32_t>(payload.size());
  const std::uint32_t allocation = format_.blockAllocation(cb);
  const Ib ib = allocateSpace(allocation, AllocationMap::kUnit, false);
  const Bid bid = bidNextB_ | (internal ? 0x2 : 0x0);
  bidNextB_ += 4;

  // BLOCKTRAILER ([MS-PST] 2.2.2.8.1) at the end of the allocation.
  std::vector<std::uint8_t> buffer(allocation, 0);
  std::copy(payload.begin(), payload.end(), buffer.begin());
  if (!internal) encodeBlock(crypt_, bid, std::span<std::uint8_t>(buffer.data(), cb));
  std::uint8_t* t = buffer.data() + allocation - format_.blockTrailerSize;
  const std::uint32_t crc = computeCrc(std::span<const std::uint8_t>(buffer.data(), cb));
  storeLe16(t, static_cast<std::uint16_t>(cb));
  storeLe16(t + 2, computeSig(ib, bid));
  if (format_.variant == Variant::Unicode) {
    storeLe32(t + 4, crc);
    storeLe64(t + 8, bid);
  } else {
    storeLe32(t + 4, static_cast<std::uint32_t>(bid));
    storeLe32(t + 8, crc);
  }
  file_.write(ib, buffer);

  bbt_.insert(BbtEntry{bid, ib, static_cast<std::uint16_t>(cb), 0});
  unreferenced_.insert(bid);
  uncommitted_.insert(bid);
  uncommittedBytes_ += allocation;
  if (internal)
    for (Bid child : children) addRef(child);
  return bid;
}

std::vector<std::uint8_t> NdbWriter::readBlock(Bid bid) const {
  const BbtEntry* e = bbt_.find(bid);
  if (!e) throw PstError(PstErrorCode::NotFound, "block " + std::to_string(bid) + " not in the BBT");
  std::vector<std::uint8_t> bytes(e->cb);
  file_.read(e->ib, bytes);
  if (!isInternalBid(bid)) decodeBlock(crypt_, bid, bytes);
  return bytes;
}

std::vector<std::vector<std::uint8_t>> NdbWriter::readDataBlocks(Bid bid) const {
  std::vector<std::vector<std::uint8_t>> out;
  if (bid == 0) return out;
  if (!isInternalBid(bid)) {
    out.push_back(readBlock(bid));
    return out;
  }
  for (Bid child : childrenOf(bid))
    for (auto& b : readDataBlocks(child)) out.push_back(std::move(b));
  return out;
}

std::vector<SubnodeRef> NdbWriter::readSubnodes(Bid bid) const {
  std::vector<SubnodeRef> out;
  if (bid == 0) return out;
  const auto b = readBlock(bid);
  const std::uint32_t r = format_.refSize;
  if (b.size() < format_.subnodeHeaderSize || b[0] != kBlockTypeSubnode)
    throw PstError(PstErrorCode::InvalidArgument, "not a subnode block");
  const std::uint16_t count = loadLe16(b.data() + 2);
  const std::uint8_t* e = b.data() + format_.subnodeHeaderSize;
  for (std::uint16_t i = 0; i < count; ++i) {
    if (b[1] == 0) {
      const std::uint8_t* p = e + i * format_.slEntrySize();
      out.push_back({static_cast<Nid>(loadRef(p, r)), loadRef(p + r, r), loadRef(p + 2 * r, r)});
    } else {
      for (const SubnodeRef& s : readSubnodes(loadRef(e + i * format_.siEntrySize() + r, r))) out.push_back(s);
    }
  }
  return out;
}

std::vector<Bid> NdbWriter::childrenOf(Bid bid) const {
  const auto b = readBlock(bid);
  const std::uint32_t r = format_.refSize;
  std::vector<Bid> out;
  if (b.size() < 4) return out;
  const std::uint16_t count = loadLe16(b.data() + 2);
  if (b[0] == kBlockTypeData) {
    for (std::uint16_t i = 0; i < count; ++i) out.push_back(loadRef(b.data() + 8 + i * r, r));
  } else if (b[0] == kBlockTypeSubnode) {
    const std::uint8_t* e = b.data() + format_.subnodeHeaderSize;
    for (std::uint16_t i = 0; i < count; ++i) {
      if (b[1] == 0) {
        const std::uint8_t* p = e + i * format_.slEntrySize();
        if (Bid d = loadRef(p + r, r)) out.push_back(d);
        if (Bid s = loadRef(p + 2 * r, r)) out.push_back(s);
      } else {
        out.push_back(loadRef(e + i * format_.siEntrySize() + r, r));
      }
    }
  }
  return out;
}

Bid NdbWriter::writeBlock(std::span<const std::uint8_t> payload) { return storeBlock(payload, false, {}); }

Bid NdbWriter::storeXBlock(std::uint8_t level, const std::vector<Bid>& children, std::uint64_t total) {
  if (total > std::numeric_limits<std::uint32_t>::max())
    throw PstError(PstErrorCode::TooMuchData, "data tree larger than lcbTotal can describe");
  std::vector<std::uint8_t> b;
  ByteWriter w(b);
  w.u8(kBlockTypeData);
  w.u8(level);
  w.u16(static_cast<std::uint16_t>(children.size()));
  w.u32(static_cast<std::uint32_t>(total));
  for (Bid c : children) w.ref(format_.refSize, c);
  return storeBlock(b, true, children);
}

Bid NdbWriter::writeData(std::span<const std::uint8_t> bytes) {
  DataTreeWriter tree(*this);
  tree.append(bytes);
  return tree.finish();
}

Bid NdbWriter::writeDataBlocks(const std::vector<std::vector<std::uint8_t>>& blocks) {
  DataTreeWriter tree(*this);
  for (const auto& b : blocks) tree.appendBlock(b);
  return tree.finish();
}

void DataTreeWriter::append(std::span<const std::uint8_t> bytes) {
  const std::size_t max = writer_.format().maxBlockPayload();
  while (!bytes.empty()) {
    const std::size_t take = std::min(bytes.size(), max - pending_.size());
    pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
    bytes = bytes.subspan(take);
    if (pending_.size() == max) flushPending();
  }
}

void DataTreeWriter::appendBlock(std::span<const std::uint8_t> block) {
  flushPending();
  leaves_.push_back(writer_.writeBlock(block));
  leafSizes_.push_back(static_cast<std::uint32_t>(block.size()));
}

void DataTreeWriter::appendWritten(Bid bid, std::uint32_t size) {
  flushPending();
  leaves_.push_back(bid);
  leafSizes_.push_back(size);
}

void DataTreeWriter::flushPending() {
  if (pending_.empty()) return;
  leaves_.push_back(writer_.writeBlock(pending_));
  leafSizes_.push_back(static_cast<std::uint32_t>(pending_.size()));
  pending_.clear();
}

Bid DataTreeWriter::finish() {
  flushPending();
  if (leaves_.empty()) return 0;
  if (leaves_.size() == 1) return leaves_.front();
  const std::size_t cap = writer_.format().xblockCapacity();
  std::uint64_t total = 0;
  for (auto s : leafSizes_) total += s;
  if (leaves_.size() <= cap) return writer_.storeXBlock(1, leaves_, total);
  if (leaves_.size() > cap * cap)
    throw PstError(PstErrorCode::TooMuchData, "data tree larger than an XXBLOCK can describe");
  std::vector<Bid> xblocks;
  for (std::size_t i = 0; i < leaves_.size(); i += cap) {
    const std::size_t end = std::min(leaves_.size(), i + cap);
    std::uint64_t part = 0;
    for (std::size_t j = i; j < end; ++j) part += leafSizes_[j];
    xblocks.push_back(writer_.storeXBlock(
        1, std::vector<Bid>(leaves_.begin() + static_cast<std::ptrdiff_t>(i), leaves_.begin() + static_cast<std::ptrdiff_t>(end)),
        part));
  }
  return writer_.storeXBlock(2, xblocks, total);
}

Bid NdbWriter::writeSubnodes(std::vector<SubnodeRef> entries) {
  if (entries.empty()) return 0;
  std::sort(entries.begin(), entries.end(), [](const SubnodeRef& a, const SubnodeRef& b) { return a.nid < b.nid; });
  for (std::size_t i = 1; i < entries.size(); ++i)
    if (entries[i].nid == entries[i - 1].nid)
      throw PstError(PstErrorCode::InvalidArgument, "two subnodes with one NID");
  const std::uint32_t r = format_.refSize;
  auto header = [&](ByteWriter& w, std::uint8_t level, std::size_t count) {
    w.u8(kBlockTypeSubnode);
    w.u8(level);
    w.u16(static_cast<std::uint16_t>(count));
    if (format_.variant == Variant::Unicode) w.u32(0);  // dwPadding
  };
  // SLBLOCKs ([MS-PST] 2.2.2.8.3.3.1).
  const std::size_t slCap = format_.slblockCapacity();
  std::vector<std::pair<Nid, Bid>> leaves;
  for (std::size_t i = 0; i < entries.size(); i += slCap) {
    const std::size_t end = std::min(entries.size(), i + slCap);
    std::vector<std::uint8_t> b;
    ByteWriter w(b);
    header(w, 0, end - i);
    std::vector<Bid> children;
    for (std::size_t j = i; j < end; ++j) {
      w.ref(r, entries[j].nid);
      w.ref(r, entries[j].data);
      w.ref(r, entries[j].sub);
      if (entries[j].data) children.push_back(entries[j].data);
      if (entries[j].sub) children.push_back(entries[j].sub);
    }
    leaves.emplace_back(entries[i].nid, storeBlock(b, true, children));
  }
  if (leaves.size() == 1) return leaves.front().second;
  // One SIBLOCK level ([MS-PST] 2.2.2.8.3.3.2): subnode trees have at most two.
  if (leaves.size() > format_.siblockCapacity())
    throw PstError(PstErrorCode::TooMuchData, "more subnodes than an SIBLOCK can describe");
  std::vector<std::uint8_t> b;
  ByteWriter w(b);
  header(w, 1, leaves.size());
  std::vector<Bid> children;
  for (const auto& [nid, bid] : leaves) {
    w.ref(r, nid);
    w.ref(r, bid);
    children.push_back(bid);
  }
  return storeBlock(b, true, children);
}

SubnodeRef NdbWriter::writeContent(Nid nid, const NodeContent& content) {
  SubnodeRef ref{nid, writeDataBlocks(content.blocks), 0};
  std::vector<SubnodeRef> subs;
  subs.reserve(content.subnodes.size());
  for (const auto& s : content.subnodes) subs.push_back(writeContent(s.nid, s.content));
  ref.sub = writeSubnodes(std::move(subs));
  return ref;
}

void NdbWriter::addRef(Bid bid) {
  if (bid == 0) return;
  BbtEntry* e = bbt_.findForUpdate(bid);
  if (!e) throw PstError(PstErrorCode::InvalidArgument, "reference to a block that is not in the BBT");
  if (e->refs++ == 0) unreferenced_.erase(bid);
}

void NdbWriter::dropRef(Bid bid) {
  if (bid == 0) return;
  BbtEntry* e = bbt_.findForUpdate(bid);
  if (!e || e->refs == 0) throw PstError(PstErrorCode::InvalidArgument, "reference count below zero");
  if (--e->refs == 0) unreferenced_.insert(bid);
}

void NdbWriter::dropUnreferencedBlocks() {
  while (!unreferenced_.empty()) {
    const Bid bid = *unreferenced_.begin();
    unreferenced_.erase(unreferenced_.begin());
    const BbtEntry* e = bbt_.find(bid);
    if (!e || e->refs != 0) continue;
    // An internal block's references are read back before its space goes.
    const std::vector<Bid> children = isInternalBid(bid) ? childrenOf(bid) : std::vector<Bid>{};
    const bool committed = uncommitted_.erase(bid) == 0;
    releaseSpace(e->ib, format_.blockAllocation(e->cb), committed);
    bbt_.erase(bid);
    for (Bid c : children) dropRef(c);
  }
}

// ---------------------------------------------------------------- nodes --

void NdbWriter::createNode(Nid nid, Nid parent, Bid data, Bid sub) {
  checkUsable();
  if (nbt_.find(nid)) throw PstError(PstErrorCode::Exists, "node " + std::to_string(nid) + " exists");
  addRef(data);
  addRef(sub);
  nbt_.insert(NbtEntry{nid, data, sub, parent});
  auto& next = rgnid_[static_cast<std::size_t>(nid & 0x1F)];
  next = std::max(next, nidIndex(nid));
}

void NdbWriter::createNode(Nid nid, Nid parent, const NodeContent& content) {
  if (nbt_.find(nid)) throw PstError(PstErrorCode::Exists, "node " + std::to_string(nid) + " exists");
  const SubnodeRef ref = writeContent(nid, content);
  createNode(nid, parent, ref.data, ref.sub);
}

void NdbWriter::replaceNode(Nid nid, Nid parent, Bid data, Bid sub) {
  checkUsable();
  NbtEntry* e = nbt_.findForUpdate(nid);
  if (!e) throw PstError(PstErrorCode::NotFound, "node " + std::to_string(nid) + " not found");
  addRef(data);
  addRef(sub);
  const Bid oldData = e->data, oldSub = e->sub;
  *e = NbtEntry{nid, data, sub, parent};
  dropRef(oldData);
  dropRef(oldSub);
}

void NdbWriter::replaceNode(Nid nid, Nid parent, const NodeContent& content) {
  if (!nbt_.find(nid)) throw PstError(PstErrorCode::NotFound, "node " + std::to_string(nid) + " not found");
  const SubnodeRef ref = writeContent(nid, content);
  replaceNode(nid, parent, ref.data, ref.sub);
}

void NdbWriter::deleteNode(Nid nid) {
  checkUsable();
  const NbtEntry* e = nbt_.find(nid);
  if (!e) throw PstError(PstErrorCode::NotFound, "node " + std::to_string(nid) + " not found");
  const Bid data = e->data, sub = e->sub;
  nbt_.erase(nid);
  dropRef(data);
  dropRef(sub);
}

Nid NdbWriter::allocateNid(NidType type) {
  auto& next = rgnid_[static_cast<std::size_t>(type)];
  if (next >= (1u << 27) - 1) throw PstError(PstErrorCode::TooMuchData, "NID indexes of this type are used up");
  return makeNid(type, ++next);
}

// ---------------------------------------------------------------- pages --

void NdbWriter::writePageTrailer(std::uint8_t* page, PageType type, std::uint16_t sig, Bid bid) const {
  // PAGETRAILER ([MS-PST] 2.2.2.7.1); the CRC covers the page before it.
  std::uint8_t* t = page + format_.pageDataSize;
  const std::uint32_t crc = computeCrc(std::span<const std::uint8_t>(page, format_.pageDataSize));
  t[0] = static_cast<std::uint8_t>(type);
  t[1] = static_cast<std::uint8_t>(type);
  storeLe16(t + 2, sig);
  if (format_.variant == Variant::Unicode) {
    storeLe32(t + 4, crc);
    storeLe64(t + 8, bid);
  } else {
    storeLe32(t + 4, static_cast<std::uint32_t>(bid));
    storeLe32(t + 8, crc);
  }
}

template <typename Entry>
Bref NdbWriter::writeTreeNode(typename PageBTree<Entry>::Node& node, PageType type) {
  if (!node.dirty && node.page.bid != 0) return node.page;
  std::vector<std::uint8_t> page(format_.pageSize, 0);
  const std::uint32_t r = format_.refSize;
  std::size_t count = 0;
  std::uint32_t entrySize = 0, capacity = 0;
  if (node.level > 0) {
    // BTENTRY ([MS-PST] 2.2.2.7.7.2): btkey, then the child's BREF.
    entrySize = format_.btEntrySize;
    capacity = format_.btIntermediateCapacity();
    for (std::size_t i = 0; i < node.children().size(); ++i) {
      const Bref ref = writeTreeNode<Entry>(*node.children()[i], type);
      std::uint8_t* p = page.data() + count++ * entrySize;
      storeRef(p, r, node.keys()[i]);
      storeRef(p + r, r, ref.bid);
      storeRef(p + 2 * r, r, ref.ib);
    }
  } else if constexpr (std::is_same_v<Entry, BbtEntry>) {
    entrySize = format_.bbtEntrySize;
    capacity = format_.bbtLeafCapacity();
    for (const BbtEntry& e : node.entries) {
      std::uint8_t* p = page.data() + count++ * entrySize;
      storeRef(p, r, e.bid);
      storeRef(p + r, r, e.ib);
      storeLe16(p + 2 * r, e.cb);
      storeLe16(p + 2 * r + 2, static_cast<std::uint16_t>(std::min<std::uint32_t>(e.refs + 1, 0xFFFF)));
    }
  } else {
    entrySize = format_.nbtEntrySize;
    capacity = format_.nbtLeafCapacity();
    for (const NbtEntry& e : node.entries) {
      std::uint8_t* p = page.data() + count++ * entrySize;
      storeRef(p, r, e.nid);
      storeRef(p + r, r, e.data);
      storeRef(p + 2 * r, r, e.sub);
      storeLe32(p + 3 * r, e.parent);
    }
  }
  // cEnt, cEntMax, cbEnt, cLevel ([MS-PST] 2.2.2.7.7.1).
  std::uint8_t* meta = page.data() + format_.btEntryArea;
  meta[0] = static_cast<std::uint8_t>(count);
  meta[1] = static_cast<std::uint8_t>(capacity);
  meta[2] = static_cast<std::uint8_t>(entrySize);
  meta[3] = node.level;

  if (node.page.bid != 0) pendingFree_.push_back({node.page.ib, format_.pageSize});
  const Ib ib = allocateSpace(format_.pageSize, format_.pageSize, true);
  const Bid bid = bidNextP_++;
  writePageTrailer(page.data(), type, computeSig(ib, bid), bid);
  file_.write(ib, page);
  node.page = Bref{bid, ib};
  node.dirty = false;
  return node.page;
}

void NdbWriter::writeDList() {
  // An empty density list ([MS-PST] 2.2.2.7.4): no entries and
  // DFL_BACKFILL_COMPLETE clear, which is how Outlook creates it; Outlook
  // fills it from the AMaps when it needs one. It is optional.
  std::vector<std::uint8_t> page(format_.pageSize, 0);
  const Bid bid = bidNextP_++;
  writePageTrailer(page.data(), PageType::DList, computeSig(kDListIb, bid), bid);
  file_.write(kDListIb, page);
}

void NdbWriter::writeMapPages() {
  const auto dirty = amap_.takeDirty();
  const std::size_t count = amap_.intervalCount();
  const std::uint32_t dataOffset = format_.pageDataSize - AllocationMap::kMapBytes;  // ANSI: dwPadding
  auto mapPage = [&](Ib ib, PageType type, auto&& fill) {
    std::vector<std::uint8_t> page(format_.pageSize, 0);
    fill(page.data() + dataOffset);
    // Map pages carry wSig 0 and their own IB as BID ([MS-PST] 2.2.2.7.1).
    writePageTrailer(page.data(), type, 0, ib);
    file_.write(ib, page);
  };
  std::set<std::size_t> fmapDirty;
  for (std::size_t interval : dirty) {
    mapPage(AllocationMap::intervalStart(interval), PageType::AMap,
            [&](std::uint8_t* d) { std::memcpy(d, amap_.amapBits(interval).data(), AllocationMap::kMapBytes); });
    if (interval >= AllocationMap::kHeaderFMapCount) {
      const std::size_t first =
          interval - (interval - AllocationMap::kHeaderFMapCount) % AllocationMap::kFMapEvery;
      fmapDirty.insert(first);
    }
  }
  // PMap and FPMap pages of new intervals: every page reported as not free,
  // so a client that still uses them reserves pages through the AMap
  // ([MS-PST] 2.2.2.7.3: they are deprecated but MUST be present).
  for (std::size_t interval = committedIntervals_; interval < count; ++interval) {
    for (const MapPage& mp : AllocationMap::mapPagesOf(interval)) {
      if (mp.type == PageType::PMap || mp.type == PageType::FPMap)
        mapPage(mp.ib, mp.type, [&](std::uint8_t* d) { std::memset(d, 0xFF, AllocationMap::kMapBytes); });
      if (mp.type == PageType::FMap && AllocationMap::fmapFirstCovered(interval)) fmapDirty.insert(interval);
    }
  }
  // FMap pages ([MS-PST] 2.2.2.7.5): the longest free run of each AMap they cover.
  for (std::size_t first : fmapDirty) {
    if (first >= count) continue;
    mapPage(AllocationMap::intervalStart(first) + 1024, PageType::FMap, [&](std::uint8_t* d) {
      for (std::size_t i = 0; i < AllocationMap::kMapBytes && first + i < count; ++i)
        d[i] = amap_.longestFreeRun(first + i);
    });
  }
  committedIntervals_ = count;
  file_.extendTo(amap_.eof());
}

void NdbWriter::writeHeader(std::uint8_t amapValid) {
  std::vector<std::uint8_t> h(format_.headerSize, 0);
  std::uint8_t* p = h.data();
  std::memcpy(p, "!BDN", 4);
  storeLe16(p + 8, 0x4D53);  // wMagicClient "SM"
  storeLe16(p + 10, format_.wVer);
  storeLe16(p + 12, 19);  // wVerClient
  p[14] = 0x01;           // bPlatformCreate
  p[15] = 0x01;           // bPlatformAccess
  const bool unicode = format_.variant == Variant::Unicode;
  const std::uint32_t r = format_.refSize;
  std::uint8_t* root;
  std::uint8_t* rgbFM;
  std::uint8_t* rgbFP;
  std::uint8_t* tail;  // bSentinel, bCryptMethod
  if (unicode) {
    storeLe64(p + 32, bidNextP_);
    storeLe32(p + 40, dwUnique_);
    for (std::size_t i = 0; i < 32; ++i) storeLe32(p + 44 + 4 * i, rgnid_[i]);
    root = p + 180;
    rgbFM = p + 256;
    rgbFP = p + 384;
    tail = p + 512;
    storeLe64(p + 516, bidNextB_);
  } else {
    storeLe32(p + 24, static_cast<std::uint32_t>(bidNextB_));
    storeLe32(p + 28, static_cast<std::uint32_t>(bidNextP_));
    storeLe32(p + 32, dwUnique_);
    for (std::size_t i = 0; i < 32; ++i) storeLe32(p + 36 + 4 * i, rgnid_[i]);
    root = p + 164;
    rgbFM = p + 204;
    rgbFP = p + 332;
    tail = p + 460;
  }
  // ROOT ([MS-PST] 2.2.2.5).
  std::uint8_t* q = root + 4;
  storeRef(q, r, amap_.eof());
  storeRef(q + r, r, AllocationMap::intervalStart(amap_.intervalCount() - 1));
  storeRef(q + 2 * r, r, amap_.freeBytes());
  storeRef(q + 3 * r, r, 0);  // cbPMapFree: the PMaps report no free page
  storeRef(q + 4 * r, r, nbtRoot_.bid);
  storeRef(q + 5 * r, r, nbtRoot_.ib);
  storeRef(q + 6 * r, r, bbtRoot_.bid);
  storeRef(q + 7 * r, r, bbtRoot_.ib);
  q[8 * r] = amapValid;
  // rgbFM / rgbFP: Unicode files carry 0xFF (deprecated); ANSI files the
  // longest free run of each of the first 128 AMaps.
  std::memset(rgbFM, 0xFF, 128);
  if (!unicode)
    for (std::size_t i = 0; i < AllocationMap::kHeaderFMapCount; ++i)
      rgbFM[i] = i < amap_.intervalCount() ? amap_.longestFreeRun(i) : 0;
  std::memset(rgbFP, 0xFF, 128);
  tail[0] = 0x80;  // bSentinel
  tail[1] = static_cast<std::uint8_t>(crypt_);
  storeLe32(p + 4, computeCrc(std::span<const std::uint8_t>(p + 8, 471)));  // dwCRCPartial
  if (unicode) storeLe32(p + 524, computeCrc(std::span<const std::uint8_t>(p + 8, 516)));  // dwCRCFull
  file_.write(0, h);
}

void NdbWriter::commit() {
  checkUsable();
  try {
    dropUnreferencedBlocks();
    for (const Bref& b : nbt_.takeRetired())
      if (b.bid) pendingFree_.push_back({b.ib, format_.pageSize});
    for (const Bref& b : bbt_.takeRetired())
      if (b.bid) pendingFree_.push_back({b.ib, format_.pageSize});
    nbtRoot_ = writeTreeNode<NbtEntry>(nbt_.root(), PageType::Nbt);
    bbtRoot_ = writeTreeNode<BbtEntry>(bbt_.root(), PageType::Bbt);
    writeMapPages();
    file_.sync();
    ++dwUnique_;
    writeHeader(kAMapValid2);
    file_.sync();
  } catch (...) {
    failed_ = true;
    throw;
  }
  // The new HEADER is on disk: what only the previous one referenced is free.
  for (const Extent& e : pendingFree_) {
    clearSpace(e.ib, e.bytes);
    amap_.release(e.ib, e.bytes);
  }
  pendingFree_.clear();
  uncommitted_.clear();
  uncommittedBytes_ = 0;
  // Memory keeps the intermediate levels; unchanged leaves live on disk.
  nbt_.evictCleanLeaves();
  bbt_.evictCleanLeaves();
}

}  // namespace vexl::pst
