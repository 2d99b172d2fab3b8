// Table context builder ([MS-PST] 2.3.4): TCINFO with its four column
// group ends (TCI_4b, TCI_2b, TCI_1b, TCI_bm), TCOLDESCs sorted by tag, the
// row matrix (4- and 8-byte cells, then 2-byte, then 1-byte, then the cell
// existence bitmap) on the heap or, past 3580 bytes, in a subnode whose
// blocks hold whole rows, and the row index: a BTH of dwRowID to row number.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

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

class TableContextBuilder {
 public:
  // `columns` are the table's columns besides dwRowID and dwRowVer, which
  // every TC has first. Their order decides the layout within each size
  // group; the descriptors are sorted by tag.
  TableContextBuilder(const NdbFormat& format, const std::vector<PropTag>& columns);

  // A row; cells of columns not given are absent (CEB bit clear). Cells
  // whose tag is not a column are an error.
  void addRow(std::uint32_t rowId, const std::map<PropTag, std::vector<std::uint8_t>>& cells,
              std::uint32_t rowVersion = 0);
  std::size_t rowCount() const { return rows_.size(); }
  const std::vector<ColumnDesc>& columns() const { return layout_; }
  std::uint32_t rowSize() const { return rowSize_; }

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
    std::map<PropTag, std::vector<std::uint8_t>> cells;
  };
  const NdbFormat& format_;
  std::vector<ColumnDesc> layout_;  // in row order
  std::uint16_t groupEnd_[4] = {};
  std::uint32_t rowSize_ = 0;
  std::vector<Row> rows_;
};

}  // namespace vexl::pst
