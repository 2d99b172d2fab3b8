#include "mapi/pst/table_context.h"

#include <algorithm>
#include <set>

#include "mapi/pst/byte_writer.h"
#include "mapi/pst/pst_error.h"

namespace vexl::pst {

namespace {
constexpr std::uint8_t kTcType = 0x7C;
constexpr std::uint8_t kRowIdSize = 4;

bool isHid(Hnid hnid) { return hnid != 0 && (hnid & 0x1F) == 0; }
}  // namespace

// ------------------------------------------------------------- layout --

TableLayout::TableLayout(const NdbFormat& format, const std::vector<PropTag>& columns) {
  std::vector<PropTag> all{kTagLtpRowId, kTagLtpRowVer};
  for (PropTag tag : columns)
    if (tag != kTagLtpRowId && tag != kTagLtpRowVer && std::find(all.begin(), all.end(), tag) == all.end())
      all.push_back(tag);
  if (all.size() > 255) throw PstError(PstErrorCode::InvalidArgument, "a TC has at most 255 columns");
  // Groups: 8- and 4-byte cells, 2-byte, 1-byte ([MS-PST] 2.3.4.1).
  std::uint16_t at = 0;
  std::uint8_t bit = 0;
  const std::uint32_t groups[3][2] = {{4, 8}, {2, 2}, {1, 1}};
  for (std::size_t g = 0; g < 3; ++g) {
    for (PropTag tag : all) {
      const std::uint32_t size = tcCellSize(tagType(tag));
      if (size != groups[g][0] && size != groups[g][1]) continue;
      layout_.push_back({tag, at, static_cast<std::uint8_t>(size), bit++});
      at = static_cast<std::uint16_t>(at + size);
    }
    groupEnd_[g] = at;
  }
  const auto cebSize = static_cast<std::uint16_t>((layout_.size() + 7) / 8);
  groupEnd_[3] = static_cast<std::uint16_t>(at + cebSize);
  rowSize_ = groupEnd_[3];
  if (rowSize_ > format.maxBlockPayload()) throw PstError(PstErrorCode::InvalidArgument, "TC row larger than a block");
}

const ColumnDesc* TableLayout::find(PropTag tag) const {
  auto it = std::find_if(layout_.begin(), layout_.end(), [&](const ColumnDesc& c) { return c.tag == tag; });
  return it == layout_.end() ? nullptr : &*it;
}

void TableLayout::checkCells(const TableCells& cells) const {
  for (const auto& [tag, bytes] : cells) {
    if (!find(tag) || tag == kTagLtpRowId || tag == kTagLtpRowVer)
      throw PstError(PstErrorCode::InvalidArgument, "cell for a column the table does not have");
    const std::uint32_t fixed = fixedValueSize(tagType(tag));
    if (fixed != 0 && bytes.size() != fixed)
      throw PstError(PstErrorCode::InvalidArgument, "cell size does not match its fixed-size type");
  }
}

void TableLayout::encodeRow(std::uint8_t* p, std::uint32_t rowId, std::uint32_t version, const TableCells& cells,
                            const std::function<Hnid(std::vector<std::uint8_t>)>& place) const {
  std::uint8_t* ceb = p + groupEnd_[2];
  for (const ColumnDesc& c : layout_) {
    const std::vector<std::uint8_t>* bytes = nullptr;
    std::vector<std::uint8_t> own;
    if (c.tag == kTagLtpRowId) {
      own = value::uint32(rowId);
      bytes = &own;
    } else if (c.tag == kTagLtpRowVer) {
      own = value::uint32(version);
      bytes = &own;
    } else if (auto it = cells.find(c.tag); it != cells.end()) {
      bytes = &it->second;
    }
    if (!bytes) continue;
    if (fixedValueSize(tagType(c.tag)) == c.cbData)
      std::copy(bytes->begin(), bytes->end(), p + c.ibData);
    else
      storeLe32(p + c.ibData, place(*bytes));
    ceb[c.iBit / 8] = static_cast<std::uint8_t>(ceb[c.iBit / 8] | (0x80u >> (c.iBit % 8)));
  }
}

std::vector<Hnid> TableLayout::hnidCells(const std::uint8_t* row) const {
  std::vector<Hnid> out;
  const std::uint8_t* ceb = row + groupEnd_[2];
  for (const ColumnDesc& c : layout_)
    if (fixedValueSize(tagType(c.tag)) != c.cbData && (ceb[c.iBit / 8] & (0x80u >> (c.iBit % 8))))
      if (Hnid h = loadLe32(row + c.ibData)) out.push_back(h);
  return out;
}

std::optional<std::vector<std::uint8_t>> TableLayout::cell(const std::uint8_t* row, PropTag tag) const {
  const ColumnDesc* c = find(tag);
  if (!c || fixedValueSize(tagType(tag)) != c->cbData) return std::nullopt;
  if (!(row[groupEnd_[2] + c->iBit / 8] & (0x80u >> (c->iBit % 8)))) return std::nullopt;
  return std::vector<std::uint8_t>(row + c->ibData, row + c->ibData + c->cbData);
}

std::vector<std::uint8_t> TableLayout::tcInfo(Hid rowIndex, Hnid rows) const {
  std::vector<ColumnDesc> sorted = layout_;
  std::sort(sorted.begin(), sorted.end(), [](const ColumnDesc& a, const ColumnDesc& b) { return a.tag < b.tag; });
  std::vector<std::uint8_t> info;
  ByteWriter w(info);
  w.u8(kTcType);
  w.u8(static_cast<std::uint8_t>(sorted.size()));
  for (std::uint16_t end : groupEnd_) w.u16(end);
  w.u32(rowIndex);  // hidRowIndex
  w.u32(rows);      // hnidRows
  w.u32(0);         // hidIndex (deprecated)
  for (const ColumnDesc& c : sorted) {
    w.u32(c.tag);
    w.u16(c.ibData);
    w.u8(c.cbData);
    w.u8(c.iBit);
  }
  return info;
}

// ------------------------------------------------------ whole tables --

TableContextBuilder::TableContextBuilder(const NdbFormat& format, const std::vector<PropTag>& columns)
    : format_(format), layout_(format, columns) {}

void TableContextBuilder::addRow(std::uint32_t rowId, const TableCells& cells, std::uint32_t rowVersion) {
  layout_.checkCells(cells);
  rows_.push_back({rowId, rowVersion, cells});
}

void TableContextBuilder::build(NodeContent& node, SubnodeNids& nids) const {
  HeapBuilder heap(format_, HeapClient::TableContext);
  HnidPlacer placer(heap, node, nids);
  // The row index's BTHHEADER first (HID 0x20), then TCINFO (hidUserRoot),
  // as Outlook lays a table out: some readers take the BTHHEADER of every
  // table from HID 0x20 and cannot read the table otherwise.
  const Hid indexHeader = reserveBthHeader(heap);
  const Hid infoHid = heap.allocate(layout_.tcInfo(0, 0));
  heap.setUserRoot(infoHid);

  // Rows, with variable-size cells placed as HNIDs.
  const std::uint32_t rowSize = layout_.rowSize();
  std::vector<std::uint8_t> matrix(rows_.size() * rowSize, 0);
  std::vector<BthRecord> index;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    layout_.encodeRow(matrix.data() + r * rowSize, rows_[r].id, rows_[r].version, rows_[r].cells,
                      [&placer](std::vector<std::uint8_t> bytes) { return placer.place(std::move(bytes)); });
    BthRecord rec{rows_[r].id, std::vector<std::uint8_t>(format_.rowIndexSize, 0)};
    for (std::uint32_t i = 0; i < format_.rowIndexSize; ++i) rec.data[i] = static_cast<std::uint8_t>(r >> (8 * i));
    index.push_back(std::move(rec));
  }
  buildBth(heap, indexHeader, kRowIdSize, static_cast<std::uint8_t>(format_.rowIndexSize), std::move(index));

  // The row matrix ([MS-PST] 2.3.4.4): on the heap when it fits one
  // allocation, else a subnode whose blocks each hold whole rows.
  Hnid rowsHnid = 0;
  if (!matrix.empty()) {
    if (matrix.size() <= kMaxHeapAllocation) {
      rowsHnid = heap.allocate(matrix);
    } else {
      const Nid nid = nids.allocate(NidType::Ltp);
      SubnodeContent sub{nid, {}};
      // Every block but the last is padded to a full block, as readers
      // (pst-extractor) find row N at (N / rows per block) * block size.
      const std::size_t perBlock = format_.maxBlockPayload() / rowSize * rowSize;
      for (std::size_t at = 0; at < matrix.size(); at += perBlock) {
        sub.content.blocks.emplace_back(matrix.begin() + static_cast<std::ptrdiff_t>(at),
                                        matrix.begin() + static_cast<std::ptrdiff_t>(std::min(matrix.size(), at + perBlock)));
        if (at + perBlock < matrix.size()) sub.content.blocks.back().resize(format_.maxBlockPayload(), 0);
      }
      node.subnodes.push_back(std::move(sub));
      rowsHnid = nid;
    }
  }
  heap.overwrite(infoHid, layout_.tcInfo(indexHeader, rowsHnid));
  for (auto& block : heap.finish()) node.blocks.push_back(std::move(block));
}

// ---------------------------------------------------- growing tables --

TableContextWriter::TableContextWriter(NdbWriter& ndb, Nid nid, Nid parent, const std::vector<PropTag>& columns)
    : ndb_(ndb),
      nid_(nid),
      parent_(parent),
      layout_(ndb.format(), columns),
      heap_(ndb.format(), HeapClient::TableContext),
      rowsPerBlock_(ndb.format().maxBlockPayload() / layout_.rowSize()) {
  indexHeader_ = allocate(std::vector<std::uint8_t>(8, 0));
  info_ = allocate(layout_.tcInfo(0, 0));
  heap_.setUserRoot(info_);
}

Hid TableContextWriter::allocate(std::span<const std::uint8_t> bytes) { return touched(heap_.allocate(bytes)); }

Hid TableContextWriter::touched(Hid hid) {
  heapBids_.resize(heap_.blockCount(), 0);
  heapSizes_.resize(heap_.blockCount(), 0);
  heapDirty_.resize(heap_.blockCount(), true);
  heapDirty_[hid >> 16] = true;
  return hid;
}

void TableContextWriter::release(Hid hid) {
  // An allocation in a block already sealed stays as unreferenced bytes.
  if (heap_.isSealed(hid >> 16)) return;
  heap_.free(hid);
  heapDirty_[hid >> 16] = true;
}

std::vector<std::uint8_t> TableContextWriter::readHid(Hid hid) const {
  const std::size_t block = hid >> 16;
  if (!heap_.isSealed(block)) {
    const auto s = heap_.read(hid);
    return {s.begin(), s.end()};
  }
  // HNPAGEMAP ([MS-PST] 2.3.1.5) of the block as written.
  const std::vector<std::uint8_t> b = ndb_.readBlock(heapBids_[block]);
  const std::uint32_t index = (hid >> 5) & 0x7FF;
  const std::size_t map = loadLe16(b.data());
  if (map + 4 + 2 * (index + 1) > b.size() || index == 0 || index > loadLe16(b.data() + map))
    throw PstError(PstErrorCode::InvalidArgument, "HID outside its heap block");
  const std::size_t start = loadLe16(b.data() + map + 4 + 2 * (index - 1));
  const std::size_t end = loadLe16(b.data() + map + 4 + 2 * index);
  return std::vector<std::uint8_t>(b.begin() + static_cast<std::ptrdiff_t>(start),
                                   b.begin() + static_cast<std::ptrdiff_t>(end));
}

void TableContextWriter::load(Leaf& leaf) const {
  if (leaf.loaded) return;
  const std::vector<std::uint8_t> bytes = readHid(leaf.hid);
  const std::uint32_t cbEnt = ndb_.format().rowIndexSize;
  for (std::size_t at = 0; at + kRowIdSize + cbEnt <= bytes.size(); at += kRowIdSize + cbEnt) {
    const std::uint32_t row = cbEnt == 4 ? loadLe32(bytes.data() + at + 4) : loadLe16(bytes.data() + at + 4);
    leaf.records.emplace_back(loadLe32(bytes.data() + at), row);
  }
  leaf.loaded = true;
}

std::optional<std::uint32_t> TableContextWriter::findRow(std::uint32_t rowId) const {
  auto it = std::upper_bound(leaves_.begin(), leaves_.end(), rowId,
                             [](std::uint32_t key, const Leaf& l) { return key < l.firstKey; });
  if (it == leaves_.begin()) return std::nullopt;
  Leaf& leaf = *--it;
  load(leaf);
  auto r = std::lower_bound(leaf.records.begin(), leaf.records.end(), std::make_pair(rowId, std::uint32_t{0}));
  if (r == leaf.records.end() || r->first != rowId) return std::nullopt;
  return r->second;
}

void TableContextWriter::insertKey(std::uint32_t rowId, std::uint32_t row) {
  if (leaves_.empty()) {
    leaves_.push_back(Leaf{rowId, 0, true, true, {{rowId, row}}});
    return;
  }
  auto it = std::upper_bound(leaves_.begin(), leaves_.end(), rowId,
                             [](std::uint32_t key, const Leaf& l) { return key < l.firstKey; });
  if (it != leaves_.begin()) --it;
  load(*it);
  auto& records = it->records;
  const auto at = std::lower_bound(records.begin(), records.end(), std::make_pair(rowId, std::uint32_t{0}));
  const bool atEnd = at == records.end();
  records.insert(at, {rowId, row});
  it->firstKey = records.front().first;
  it->dirty = true;
  const std::size_t capacity = bthLeafCapacity(kRowIdSize, static_cast<std::uint8_t>(ndb_.format().rowIndexSize));
  if (records.size() <= capacity) return;
  // Appends (row ids only grow) leave full leaves behind; an insert in the
  // middle splits its leaf in halves.
  const std::size_t keep = atEnd && it + 1 == leaves_.end() ? capacity : records.size() / 2;
  Leaf next{records[keep].first, 0, true, true, {records.begin() + static_cast<std::ptrdiff_t>(keep), records.end()}};
  records.resize(keep);
  leaves_.insert(it + 1, std::move(next));
}

Hnid TableContextWriter::place(std::vector<std::uint8_t> bytes) {
  if (bytes.empty()) return 0;
  if (bytes.size() <= kMaxHeapAllocation) return allocate(bytes);
  const Nid nid = nids_.allocate(NidType::Ltp);
  valueSubnodes_[nid] = ndb_.writeData(bytes);
  return nid;
}

std::vector<std::uint8_t> TableContextWriter::rowBytes(std::uint32_t row) const {
  const std::uint32_t size = layout_.rowSize();
  const std::size_t sealed = rowBlocks_.size() * rowsPerBlock_;
  if (row >= sealed) {
    const std::size_t at = (row - sealed) * size;
    return std::vector<std::uint8_t>(tailRows_.begin() + static_cast<std::ptrdiff_t>(at),
                                     tailRows_.begin() + static_cast<std::ptrdiff_t>(at + size));
  }
  const std::vector<std::uint8_t> block = ndb_.readBlock(rowBlocks_[row / rowsPerBlock_]);
  const std::size_t at = (row % rowsPerBlock_) * size;
  return std::vector<std::uint8_t>(block.begin() + static_cast<std::ptrdiff_t>(at),
                                   block.begin() + static_cast<std::ptrdiff_t>(at + size));
}

std::optional<std::vector<std::uint8_t>> TableContextWriter::cell(std::uint32_t rowId, PropTag tag) const {
  const auto row = findRow(rowId);
  if (!row) return std::nullopt;
  return layout_.cell(rowBytes(*row).data(), tag);
}

std::size_t TableContextWriter::rowLimit() const {
  return ndb_.format().rowIndexSize < 4 ? 0xFFFF : 0xFFFFFFFF;
}

void TableContextWriter::setRow(std::uint32_t rowId, const TableCells& cells) {
  layout_.checkCells(cells);
  const std::uint32_t size = layout_.rowSize();
  const auto existing = findRow(rowId);
  if (!existing && rowCount_ >= rowLimit())
    throw PstError(PstErrorCode::TooMuchData, "the table has as many rows as its row index can number");
  std::vector<std::uint8_t> row(size, 0);
  // The old row's values go; its place in the matrix and index stays.
  if (existing) releaseCells(rowBytes(*existing));
  layout_.encodeRow(row.data(), rowId, 0, cells, [this](std::vector<std::uint8_t> bytes) { return place(std::move(bytes)); });
  changed_ = true;
  if (existing) {
    putRow(*existing, row);
    return;
  }
  // A full block of rows is sealed when the next row comes, so that the
  // last block of the matrix always holds rows and no padding.
  if (tailRows_.size() == std::size_t{rowsPerBlock_} * size) {
    tailRows_.resize(ndb_.format().maxBlockPayload(), 0);  // full blocks padded, as the whole-table builder does
    rowBlocks_.push_back(ndb_.writeBlock(tailRows_));
    tailRows_.clear();
  }
  insertKey(rowId, static_cast<std::uint32_t>(rowCount_++));
  tailRows_.insert(tailRows_.end(), row.begin(), row.end());
}

void TableContextWriter::releaseCells(const std::vector<std::uint8_t>& row) {
  for (Hnid h : layout_.hnidCells(row.data())) {
    if (isHid(h))
      release(h);
    else
      valueSubnodes_.erase(h);
  }
}

void TableContextWriter::putRow(std::uint32_t row, const std::vector<std::uint8_t>& bytes) {
  const std::uint32_t size = layout_.rowSize();
  const std::size_t sealed = rowBlocks_.size() * rowsPerBlock_;
  if (row >= sealed) {
    std::copy(bytes.begin(), bytes.end(), tailRows_.begin() + static_cast<std::ptrdiff_t>((row - sealed) * size));
    return;
  }
  // A full row block is written anew; the old one goes once no version
  // of the node refers to it.
  Bid& bid = rowBlocks_[row / rowsPerBlock_];
  std::vector<std::uint8_t> block = ndb_.readBlock(bid);
  std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<std::ptrdiff_t>((row % rowsPerBlock_) * size));
  bid = ndb_.writeBlock(block);
}

void TableContextWriter::eraseKey(std::uint32_t rowId) {
  auto it = std::upper_bound(leaves_.begin(), leaves_.end(), rowId,
                             [](std::uint32_t key, const Leaf& l) { return key < l.firstKey; });
  if (it == leaves_.begin()) return;
  --it;
  load(*it);
  auto& records = it->records;
  auto r = std::lower_bound(records.begin(), records.end(), std::make_pair(rowId, std::uint32_t{0}));
  if (r == records.end() || r->first != rowId) return;
  records.erase(r);
  if (records.empty()) {
    if (it->hid) release(it->hid);
    leaves_.erase(it);
    return;
  }
  it->firstKey = records.front().first;
  it->dirty = true;
}

void TableContextWriter::setRowNumber(std::uint32_t rowId, std::uint32_t row) {
  auto it = std::upper_bound(leaves_.begin(), leaves_.end(), rowId,
                             [](std::uint32_t key, const Leaf& l) { return key < l.firstKey; });
  if (it == leaves_.begin()) return;
  --it;
  load(*it);
  auto r = std::lower_bound(it->records.begin(), it->records.end(), std::make_pair(rowId, std::uint32_t{0}));
  if (r == it->records.end() || r->first != rowId) return;
  r->second = row;
  it->dirty = true;
}

bool TableContextWriter::deleteRow(std::uint32_t rowId) {
  const auto found = findRow(rowId);
  if (!found) return false;
  const std::uint32_t size = layout_.rowSize();
  const auto last = static_cast<std::uint32_t>(rowCount_ - 1);
  releaseCells(rowBytes(*found));
  // The last row moves into the gap, so the matrix stays dense.
  if (*found != last) {
    const std::vector<std::uint8_t> moved = rowBytes(last);
    putRow(*found, moved);
    setRowNumber(loadLe32(moved.data() + layout_.find(kTagLtpRowId)->ibData), *found);
  }
  eraseKey(rowId);
  tailRows_.resize(tailRows_.size() - size);
  --rowCount_;
  if (tailRows_.empty() && !rowBlocks_.empty()) {
    // The last full block becomes the rows still being filled.
    std::vector<std::uint8_t> block = ndb_.readBlock(rowBlocks_.back());
    block.resize(std::size_t{rowsPerBlock_} * size);
    tailRows_ = std::move(block);
    rowBlocks_.pop_back();
  }
  changed_ = true;
  return true;
}

void TableContextWriter::write() {
  if (!changed_ && ndb_.findNode(nid_)) return;
  const NdbFormat& f = ndb_.format();
  const auto cbEnt = static_cast<std::uint8_t>(f.rowIndexSize);
  // What the last write put out for the whole table is made again.
  for (Hid hid : volatile_) release(hid);
  volatile_.clear();
  for (std::size_t i = 0; i < leaves_.size(); ++i) {
    Leaf& leaf = leaves_[i];
    if (leaf.dirty) {
      std::vector<BthRecord> records;
      for (const auto& [key, row] : leaf.records) {
        BthRecord rec{key, std::vector<std::uint8_t>(cbEnt, 0)};
        for (std::uint32_t b = 0; b < cbEnt; ++b) rec.data[b] = static_cast<std::uint8_t>(row >> (8 * b));
        records.push_back(std::move(rec));
      }
      if (leaf.hid) release(leaf.hid);
      leaf.hid = allocate(bthLeafBytes(records, kRowIdSize, cbEnt));
      leaf.dirty = false;
    }
    if (i + 1 < leaves_.size() && leaf.loaded) {
      std::vector<std::pair<std::uint32_t, std::uint32_t>>().swap(leaf.records);
      leaf.loaded = false;
    }
  }

  // The row matrix ([MS-PST] 2.3.4.4): on the heap while it fits one
  // allocation, then a subnode of blocks holding whole rows.
  Hnid rows = 0;
  Bid matrixData = 0;
  if (rowCount_ != 0 && rowBlocks_.empty() && tailRows_.size() <= kMaxHeapAllocation && matrixNid_ == 0) {
    rows = allocate(tailRows_);
    volatile_.push_back(rows);
  } else if (rowCount_ != 0) {
    if (matrixNid_ == 0) matrixNid_ = nids_.allocate(NidType::Ltp);
    DataTreeWriter tree(ndb_);
    for (Bid b : rowBlocks_) tree.appendWritten(b, f.maxBlockPayload());
    if (!tailRows_.empty()) tree.appendBlock(tailRows_);
    matrixData = tree.finish();
    rows = matrixNid_;
  }
  std::vector<BthChild> children;
  for (const Leaf& leaf : leaves_) children.push_back({leaf.firstKey, leaf.hid});
  for (Hid hid : writeBthIndex(heap_, indexHeader_, kRowIdSize, cbEnt, std::move(children)))
    volatile_.push_back(touched(hid));
  heap_.overwrite(info_, layout_.tcInfo(indexHeader_, rows));
  heapDirty_[0] = true;

  // Changed heap blocks, and the blocks that hold their fill levels.
  for (std::size_t i = 0; i < heap_.blockCount(); ++i)
    if (heapDirty_[i]) heapDirty_[HeapBuilder::levelHolder(i)] = true;
  DataTreeWriter heapTree(ndb_);
  for (std::size_t i = 0; i < heap_.blockCount(); ++i) {
    if (heapDirty_[i]) {
      const std::vector<std::uint8_t> bytes = heap_.finishBlock(i);
      heapBids_[i] = ndb_.writeBlock(bytes);
      heapSizes_[i] = static_cast<std::uint16_t>(bytes.size());
      heapDirty_[i] = false;
    }
    heapTree.appendWritten(heapBids_[i], heapSizes_[i]);
  }
  const Bid data = heapTree.finish();

  std::vector<SubnodeRef> subnodes;
  for (const auto& [nid, bid] : valueSubnodes_) subnodes.push_back({nid, bid, 0});
  if (matrixData) subnodes.push_back({matrixNid_, matrixData, 0});
  const Bid sub = ndb_.writeSubnodes(std::move(subnodes));
  if (ndb_.findNode(nid_))
    ndb_.replaceNode(nid_, parent_, data, sub);
  else
    ndb_.createNode(nid_, parent_, data, sub);
  changed_ = false;

  // Blocks that will not change again leave memory: all but the first, the
  // last, those with allocations the next write frees, and the blocks
  // holding the fill levels of all these. A block kept for its allocations
  // can lie in an earlier bitmap group than the last block, and the next
  // write rewrites its group's holder too.
  const std::size_t last = heap_.blockCount() - 1;
  std::set<std::size_t> keep{0, last};
  for (Hid hid : volatile_) keep.insert(hid >> 16);
  if (!leaves_.empty()) keep.insert(leaves_.back().hid >> 16);
  for (std::size_t block : std::set<std::size_t>(keep)) keep.insert(HeapBuilder::levelHolder(block));
  for (std::size_t i = 1; i < last; ++i)
    if (!keep.count(i)) heap_.seal(i);
}

}  // namespace vexl::pst
