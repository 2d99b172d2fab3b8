// One node's item decoding: the input is the node's data, stored as a data
// tree in a small file (split into blocks of at most one block's payload),
// read as a property context and as a table context. The first byte picks
// the variant.
#include <algorithm>
#include <vector>

#include "engine/ltp/property_context.h"
#include "engine/ltp/table_context.h"
#include "engine/ltp/test_heap_builder.h"
#include "fuzz/fuzz_support.h"
#include "mapi/mapialloc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const vexl::NdbLayout& layout = (data[0] & 1) != 0 ? vexl::kUnicodeLayout : vexl::kAnsiLayout;
  const std::size_t payload = (data[0] & 1) != 0 ? 8176 : 8180;
  std::vector<vexl::testing::Bytes> blocks;
  for (std::size_t at = 1; at < size && blocks.size() < 16; at += payload)
    blocks.emplace_back(data + at, data + std::min(size, at + payload));
  vexl::testing::NodeFile file(blocks, {}, layout);

  std::uint32_t count = 0;
  vexl::mapi::SPropValue* props = nullptr;
  if (vexl::getAllProps(file.node(), count, props) == 1) vexl::mapi::MAPIFreeBuffer(props);
  std::vector<std::uint32_t> columns;
  std::vector<vexl::mapi::SPropValue*> rows;
  vexl::readTable(file.node(), columns, rows);
  vexl::freeRows(rows);
  return 0;
}
