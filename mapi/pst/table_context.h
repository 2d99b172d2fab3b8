// Table context builder ([MS-PST] 2.3.4): TCINFO with its four column
// group ends (TCI_4b, TCI_2b, TCI_1b, TCI_bm), TCOLDESCs sorted by tag, the
// row matrix (4- and 8-byte cells, then 2-byte, then 1-byte, then the cell
// existence bitmap) on the heap or, past 3580 bytes, in a subnode whose
// blocks hold whole rows, and the row index: a BTH of dwRowID to row number.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "mapi/pst/bth.h"
#include "mapi/pst/heap_on_node.h"
#include "mapi/pst/ndb_writer.h"
#include "mapi/pst/prop_types.h"
#include "mapi/pst/property_context.h"

namespace vexl::pst {

inline constexpr PropTag kTagLtpRowId = 0x67F20003;
inline constexpr PropTag kTagLtpRowVer = 0x67F30003;

// TCOLDESC ([MS-PST] 2.3.4.2).
struct ColumnDesc {
  PropTag tag = 0;
  std::uint16_t ibData = 0;
  std::uint8_t cbData = 0;
  std::uint8_t iBit = 0;
};

using TableCells = std::map<PropTag, std::vector<std::uint8_t>>;

// The row layout of a TC: columns by size group ([MS-PST] 2.3.4.1), cell
// offsets and the cell existence bitmap, shared by both table writers.
class TableLayout {
 public:
  // `columns` are the table's columns besides dwRowID and dwRowVer, which
  // every TC has first. Their order decides the layout within each size
  // group; the descriptors are sorted by tag.
  TableLayout(const NdbFormat& format, const std::vector<PropTag>& columns);
  const std::vector<ColumnDesc>& columns() const { return layout_; }
  std::uint32_t rowSize() const { return rowSize_; }
  const ColumnDesc* find(PropTag tag) const;
  // Cells must be columns of the table, of their type's fixed size.
  void checkCells(const TableCells& cells) const;
  // One row into `out` (rowSize() bytes, zeroed); variable-size cells go
  // through `place`, which returns their HNID.
  void encodeRow(std::uint8_t* out, std::uint32_t rowId, std::uint32_t version, const TableCells& cells,
                 const std::function<Hnid(std::vector<std::uint8_t>)>& place) const;
  // The HNIDs of a row's variable-size cells.
  std::vector<Hnid> hnidCells(const std::uint8_t* row) const;
  // A row's cell when its CEB bit is set.
  std::optional<std::vector<std::uint8_t>> cell(const std::uint8_t* row, PropTag tag) const;
  // TCINFO ([MS-PST] 2.3.4.1), descriptors sorted by tag.
  std::vector<std::uint8_t> tcInfo(Hid rowIndex, Hnid rows) const;

 private:
  std::vector<ColumnDesc> layout_;  // in row order
  std::uint16_t groupEnd_[4] = {};
  std::uint32_t rowSize_ = 0;
};

class TableContextBuilder {
 public:
  TableContextBuilder(const NdbFormat& format, const std::vector<PropTag>& columns);

  // A row; cells of columns not given are absent (CEB bit clear). Cells
  // whose tag is not a column are an error.
  void addRow(std::uint32_t rowId, const TableCells& cells, std::uint32_t rowVersion = 0);
  std::size_t rowCount() const { return rows_.size(); }
  const std::vector<ColumnDesc>& columns() const { return layout_.columns(); }
  std::uint32_t rowSize() const { return layout_.rowSize(); }

  void build(NodeContent& node, SubnodeNids& nids) const;
  NodeContent build() const {
    NodeContent node;
    SubnodeNids nids;
    build(node, nids);
    return node;
  }

 private:
  struct Row {
    std::uint32_t id;
    std::uint32_t version;
    TableCells cells;
  };
  const NdbFormat& format_;
  TableLayout layout_;
  std::vector<Row> rows_;
};

// A table node that grows row by row (a folder's contents table): each
// write() puts out only what changed since the last one: the heap blocks
// that took allocations, the block of rows not yet full, the row index's
// last leaf and its intermediate levels, and the data trees over the
// blocks that stayed. Memory holds the heap's first block, its current
// bitmap block and the blocks written to since the last write, the rows of
// the last row block, the row index's last leaf, and one BID per block.
// Like any node, a written version becomes part of the file at the next
// commit; rows are addressed by dwRowID.
class TableContextWriter {
 public:
  TableContextWriter(NdbWriter& ndb, Nid nid, Nid parent, const std::vector<PropTag>& columns);

  // Adds row `rowId` (at the end of the row matrix) or replaces its cells.
  void setRow(std::uint32_t rowId, const TableCells& cells);
  // Removes row `rowId`; the last row takes its place in the matrix. False
  // when there is no such row.
  bool deleteRow(std::uint32_t rowId);
  // A cell of row `rowId`; none when the row or the cell is absent.
  std::optional<std::vector<std::uint8_t>> cell(std::uint32_t rowId, PropTag tag) const;
  std::size_t rowCount() const { return rowCount_; }
  bool hasRow(std::uint32_t rowId) const { return findRow(rowId).has_value(); }
  // Rows the row index can number: an ANSI TC's row numbers are 2 bytes.
  std::size_t rowLimit() const;
  // Writes the node's new version, if anything changed since the last one.
  void write();

 private:
  struct Leaf {
    std::uint32_t firstKey = 0;
    Hid hid = 0;  // 0 until written
    bool loaded = false, dirty = false;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> records;  // dwRowID, row number
  };
  Hid allocate(std::span<const std::uint8_t> bytes);
  // Marks the block of an allocation made or changed as due for writing.
  Hid touched(Hid hid);
  void release(Hid hid);
  std::vector<std::uint8_t> readHid(Hid hid) const;
  void load(Leaf& leaf) const;
  std::optional<std::uint32_t> findRow(std::uint32_t rowId) const;
  void insertKey(std::uint32_t rowId, std::uint32_t row);
  void eraseKey(std::uint32_t rowId);
  void setRowNumber(std::uint32_t rowId, std::uint32_t row);
  void releaseCells(const std::vector<std::uint8_t>& row);
  void putRow(std::uint32_t row, const std::vector<std::uint8_t>& bytes);
  Hnid place(std::vector<std::uint8_t> bytes);
  std::vector<std::uint8_t> rowBytes(std::uint32_t row) const;

  NdbWriter& ndb_;
  Nid nid_, parent_;
  TableLayout layout_;
  HeapBuilder heap_;
  Hid indexHeader_ = 0, info_ = 0;
  std::vector<Bid> heapBids_;
  std::vector<std::uint16_t> heapSizes_;
  std::vector<bool> heapDirty_;
  mutable std::vector<Leaf> leaves_;
  std::vector<Hid> volatile_;  // rewritten at every write: index levels, a matrix on the heap
  std::uint32_t rowsPerBlock_;
  std::vector<Bid> rowBlocks_;  // full row blocks
  std::vector<std::uint8_t> tailRows_;
  std::size_t rowCount_ = 0;
  SubnodeNids nids_;
  Nid matrixNid_ = 0;
  std::map<Nid, Bid> valueSubnodes_;
  bool changed_ = true;
};

}  // namespace vexl::pst
