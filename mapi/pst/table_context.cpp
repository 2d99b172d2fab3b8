#include "mapi/pst/table_context.h"

#include <algorithm>

#include "mapi/pst/bth.h"
#include "mapi/pst/byte_writer.h"
#include "mapi/pst/heap_on_node.h"
#include "mapi/pst/pst_error.h"

namespace vexl::pst {

namespace {
constexpr std::uint8_t kTcType = 0x7C;
}

TableContextBuilder::TableContextBuilder(const NdbFormat& format, const std::vector<PropTag>& columns)
    : format_(format) {
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
  if (rowSize_ > format_.maxBlockPayload()) throw PstError(PstErrorCode::InvalidArgument, "TC row larger than a block");
}

void TableContextBuilder::addRow(std::uint32_t rowId, const std::map<PropTag, std::vector<std::uint8_t>>& cells,
                                 std::uint32_t rowVersion) {
  for (const auto& [tag, bytes] : cells) {
    auto it = std::find_if(layout_.begin(), layout_.end(), [&](const ColumnDesc& c) { return c.tag == tag; });
    if (it == layout_.end() || tag == kTagLtpRowId || tag == kTagLtpRowVer)
      throw PstError(PstErrorCode::InvalidArgument, "cell for a column the table does not have");
    const std::uint32_t fixed = fixedValueSize(tagType(tag));
    if (fixed != 0 && bytes.size() != fixed)
      throw PstError(PstErrorCode::InvalidArgument, "cell size does not match its fixed-size type");
  }
  rows_.push_back({rowId, rowVersion, cells});
}

void TableContextBuilder::build(NodeContent& node, SubnodeNids& nids) const {
  HeapBuilder heap(format_, HeapClient::TableContext);
  HnidPlacer placer(heap, node, nids);
  // The row index's BTHHEADER first (HID 0x20), then TCINFO (hidUserRoot),
  // as Outlook lays a table out: some readers take the BTHHEADER of every
  // table from HID 0x20 and cannot read the table otherwise.
  const Hid indexHeader = reserveBthHeader(heap);
  const std::size_t infoSize = 22 + 8 * layout_.size();
  const Hid infoHid = heap.allocate(std::vector<std::uint8_t>(infoSize, 0));
  heap.setUserRoot(infoHid);

  // Rows, with variable-size cells placed as HNIDs.
  std::vector<std::uint8_t> matrix(rows_.size() * rowSize_, 0);
  std::vector<BthRecord> index;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    const Row& row = rows_[r];
    std::uint8_t* p = matrix.data() + r * rowSize_;
    std::uint8_t* ceb = p + groupEnd_[2];
    for (const ColumnDesc& c : layout_) {
      const std::vector<std::uint8_t>* bytes = nullptr;
      std::vector<std::uint8_t> own;
      if (c.tag == kTagLtpRowId) {
        own = value::uint32(row.id);
        bytes = &own;
      } else if (c.tag == kTagLtpRowVer) {
        own = value::uint32(row.version);
        bytes = &own;
      } else if (auto it = row.cells.find(c.tag); it != row.cells.end()) {
        bytes = &it->second;
      }
      if (!bytes) continue;
      if (fixedValueSize(tagType(c.tag)) == c.cbData) {
        std::copy(bytes->begin(), bytes->end(), p + c.ibData);
      } else {
        storeLe32(p + c.ibData, placer.place(*bytes));
      }
      ceb[c.iBit / 8] = static_cast<std::uint8_t>(ceb[c.iBit / 8] | (0x80u >> (c.iBit % 8)));
    }
    BthRecord rec{row.id, std::vector<std::uint8_t>(format_.rowIndexSize, 0)};
    for (std::uint32_t i = 0; i < format_.rowIndexSize; ++i) rec.data[i] = static_cast<std::uint8_t>(r >> (8 * i));
    index.push_back(std::move(rec));
  }
  buildBth(heap, indexHeader, 4, static_cast<std::uint8_t>(format_.rowIndexSize), std::move(index));

  // The row matrix ([MS-PST] 2.3.4.4): on the heap when it fits one
  // allocation, else a subnode whose blocks each hold whole rows.
  Hnid rowsHnid = 0;
  if (!matrix.empty()) {
    if (matrix.size() <= kMaxHeapAllocation) {
      rowsHnid = heap.allocate(matrix);
    } else {
      const Nid nid = nids.allocate(NidType::Ltp);
      SubnodeContent sub{nid, {}};
      const std::size_t perBlock = format_.maxBlockPayload() / rowSize_ * rowSize_;
      for (std::size_t at = 0; at < matrix.size(); at += perBlock)
        sub.content.blocks.emplace_back(matrix.begin() + static_cast<std::ptrdiff_t>(at),
                                        matrix.begin() + static_cast<std::ptrdiff_t>(std::min(matrix.size(), at + perBlock)));
      node.subnodes.push_back(std::move(sub));
      rowsHnid = nid;
    }
  }

  // TCINFO ([MS-PST] 2.3.4.1), descriptors sorted by tag.
  std::vector<ColumnDesc> sorted = layout_;
  std::sort(sorted.begin(), sorted.end(), [](const ColumnDesc& a, const ColumnDesc& b) { return a.tag < b.tag; });
  std::vector<std::uint8_t> info;
  ByteWriter w(info);
  w.u8(kTcType);
  w.u8(static_cast<std::uint8_t>(sorted.size()));
  for (std::uint16_t end : groupEnd_) w.u16(end);
  w.u32(indexHeader);  // hidRowIndex
  w.u32(rowsHnid);     // hnidRows
  w.u32(0);            // hidIndex (deprecated)
  for (const ColumnDesc& c : sorted) {
    w.u32(c.tag);
    w.u16(c.ibData);
    w.u8(c.cbData);
    w.u8(c.iBit);
  }
  heap.overwrite(infoHid, info);
  for (auto& block : heap.finish()) node.blocks.push_back(std::move(block));
}

}  // namespace vexl::pst
