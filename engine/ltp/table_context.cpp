#include "engine/ltp/table_context.h"

#include <cstring>

#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/property_context.h"
#include "engine/ndb/ndb_layout.h"
#include "mapi/mapialloc.h"
#include "mapi/mapitags.h"

namespace vexl {

using namespace mapi;

namespace {

// TCINFO ([MS-PST] 2.3.4.1) and TCOLDESC (2.3.4.2).
constexpr std::size_t kTcInfoColumnsOffset = 22;
constexpr std::size_t kTcInfoMinSize = 38;
constexpr std::size_t kColumnDescSize = 8;

struct Column {
  std::uint32_t tag;
  std::uint16_t ibData;
  std::uint8_t cbData;
  std::uint8_t iBit;
};

// The cell size a column of this type must declare; -1 for a type a table
// cannot hold.
int cellSize(ULONG type) {
  switch (type) {
    case PT_I2:
      return 2;
    case PT_BOOLEAN:
      return 1;
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_I8:
    case PT_SYSTIME:
      return 8;
    case PT_OBJECT:
      return 0;
    case PT_LONG:
    case PT_R4:
    case PT_CLSID:
      return 4;
    default:
      return isVariableSizeType(type) ? 4 : -1;
  }
}

struct Matrix {
  const NdbNode& node;
  std::vector<Column> columns;
  std::size_t ceb;       // rgib[TCI_1b]: the CEB's offset, the end of the cell data
  std::size_t rowSize;   // rgib[TCI_bm]
  std::uint64_t cellsLeft = kMaxTableCells;

  bool cebSound() const { return ceb <= rowSize && ceb + (columns.size() + 7) / 8 == rowSize; }

  void decodeCell(const Column& d, const unsigned char* row, SPropValue* array, SPropValue& entry) const {
    const ULONG type = PROP_TYPE(d.tag) & ~MV_INSTANCE;
    const int size = cellSize(type);
    const bool present = cebSound() && d.iBit < columns.size() && (row[ceb + d.iBit / 8] & (0x80u >> (d.iBit % 8))) != 0;
    if (size >= 0 && present && std::size_t{d.ibData} + d.cbData <= ceb && d.cbData == size) {
      entry.ulPropTag = d.tag;
      if (decodeValue(node, true, row + d.ibData, d.cbData, array, entry) == 1) return;
    }
    std::memset(static_cast<void*>(&entry), 0, sizeof entry);
    entry.ulPropTag = errorTwin(d.tag);
    entry.Value.err = MAPI_E_BAD_VALUE;
  }

  void decodeChunk(const std::vector<unsigned char>& chunk, std::vector<SPropValue*>& rows) {
    if (rowSize == 0) return;
    const std::size_t count = chunk.size() / rowSize;
    const std::size_t bytes = columns.size() * sizeof(SPropValue);
    for (std::size_t r = 0; r < count && cellsLeft >= columns.size(); ++r) {
      cellsLeft -= columns.size();
      void* block = nullptr;
      if (MAPIAllocateBuffer(static_cast<ULONG>(bytes), &block) != S_OK) continue;
      auto* array = static_cast<SPropValue*>(block);
      std::memset(block, 0, bytes);
      const unsigned char* row = chunk.data() + r * rowSize;
      for (std::size_t i = 0; i < columns.size(); ++i) decodeCell(columns[i], row, array, array[i]);
      rows.push_back(array);
    }
  }
};

}  // namespace

int readTable(const NdbNode& node, std::vector<std::uint32_t>& columns, std::vector<SPropValue*>& rows) {
  columns.clear();
  rows.clear();
  const auto block = node.readCachedBlock(0);
  if (block == nullptr || block->size() < kHeapHeaderSize || (*block)[3] != kHeapSigTable) return 0;
  const std::uint32_t hidUserRoot = loadLe32(block->data() + 4);
  std::vector<unsigned char> info;
  if (hidUserRoot == 0 || readHeapItem(node, hidUserRoot, info) == 0) return 0;
  // The size rule: cCols = (length - 38) / 8 + 2, so at least two columns,
  // and every TCOLDESC lies within the allocation.
  if (info.size() < kTcInfoMinSize || info[1] != (info.size() - kTcInfoMinSize) / kColumnDescSize + 2) return 0;

  Matrix m{node, {}, loadLe16(info.data() + 6), loadLe16(info.data() + 8)};
  m.columns.reserve(info[1]);
  for (std::size_t i = 0; i < info[1]; ++i) {
    const unsigned char* d = info.data() + kTcInfoColumnsOffset + i * kColumnDescSize;
    m.columns.push_back(Column{loadLe32(d), loadLe16(d + 4), d[6], d[7]});
    columns.push_back(loadLe32(d));
  }

  const std::uint32_t hnidRows = loadLe32(info.data() + 14);
  std::vector<unsigned char> chunk;
  if (hnidRows == 0) {
    // no rows
  } else if (hnidIsNid(hnidRows)) {
    // Rows never span two blocks of the row matrix. Its blocks are read
    // once each, so they bypass the decoded-block cache, which keeps the
    // heap blocks the cells' values are read from.
    if (const NdbNode* sub = node.subnodes().find(hnidRows)) {
      for (std::uint32_t i = 0; i < sub->blockCount && m.cellsLeft >= m.columns.size(); ++i)
        if (sub->readBlock(i, chunk) == 1) m.decodeChunk(chunk, rows);
    }
  } else if (readHeapItem(node, hnidRows, chunk) == 1) {
    m.decodeChunk(chunk, rows);
  }
  return 1;
}

void freeRows(std::vector<SPropValue*>& rows) {
  for (SPropValue* row : rows)
    if (row != nullptr) MAPIFreeBuffer(row);
  rows.clear();
}

}  // namespace vexl
