// Table contexts ([MS-PST] 2.3.4): column tags and rows of SPropValue
// records taken straight from the row matrix, block by block. The row index
// BTH is not consulted: every complete row is delivered, in storage order.
// Every check is made per cell; a cell that fails one is delivered as its
// column's PT_ERROR twin with MAPI_E_BAD_VALUE.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/ltp/ndb_node.h"
#include "mapi/mapidefs.h"

namespace vexl {

// A table delivers at most this many cells (rows times columns); a row
// matrix beyond it (only a data tree naming the same blocks again and again
// can hold one) is cut at a whole row.
inline constexpr std::uint64_t kMaxTableCells = std::uint64_t{1} << 25;

// 1 when the node holds a recognisable TC (its rows may still be none),
// else 0 with both outputs empty. Each row is one MAPIAllocateBuffer block
// of columns.size() records, entry i for column i, its values linked to it;
// release them with freeRows.
int readTable(const NdbNode& node, std::vector<std::uint32_t>& columns, std::vector<mapi::SPropValue*>& rows);

// MAPIFreeBuffer of every row, then empties the list.
void freeRows(std::vector<mapi::SPropValue*>& rows);

}  // namespace vexl
