#include "mapi/pst/bth.h"

#include <algorithm>

#include "mapi/pst/byte_writer.h"
#include "mapi/pst/pst_error.h"

namespace vexl::pst {

namespace {
constexpr std::uint8_t kBthType = 0xB5;

void putKey(std::vector<std::uint8_t>& out, std::uint64_t key, std::uint8_t cbKey) {
  for (std::uint8_t i = 0; i < cbKey; ++i) out.push_back(i < 8 ? static_cast<std::uint8_t>(key >> (8 * i)) : 0);
}
}  // namespace

std::vector<std::uint8_t> bthLeafBytes(const std::vector<BthRecord>& records, std::uint8_t cbKey, std::uint8_t cbEnt) {
  std::vector<std::uint8_t> bytes;
  for (const BthRecord& r : records) {
    if (r.data.size() != cbEnt) throw PstError(PstErrorCode::InvalidArgument, "BTH record of wrong size");
    putKey(bytes, r.key, cbKey);
    bytes.insert(bytes.end(), r.data.begin(), r.data.end());
  }
  return bytes;
}

std::vector<Hid> writeBthIndex(HeapBuilder& heap, Hid headerHid, std::uint8_t cbKey, std::uint8_t cbEnt,
                               std::vector<BthChild> level) {
  std::vector<std::uint8_t> header{kBthType, cbKey, cbEnt, 0, 0, 0, 0, 0};
  std::vector<Hid> made;
  // Intermediate levels ([MS-PST] 2.3.2.2): key and HID of each child.
  std::uint8_t levels = 0;
  const std::size_t perIndex = kMaxHeapAllocation / (cbKey + 4u);
  while (level.size() > 1) {
    std::vector<BthChild> up;
    for (std::size_t i = 0; i < level.size(); i += perIndex) {
      std::vector<std::uint8_t> bytes;
      for (std::size_t j = i; j < std::min(level.size(), i + perIndex); ++j) {
        putKey(bytes, level[j].firstKey, cbKey);
        ByteWriter(bytes).u32(level[j].hid);
      }
      made.push_back(heap.allocate(bytes));
      up.push_back({level[i].firstKey, made.back()});
    }
    level = std::move(up);
    ++levels;
  }
  header[3] = levels;
  if (!level.empty()) storeLe32(header.data() + 4, level.front().hid);
  heap.overwrite(headerHid, header);
  return made;
}

Hid buildBth(HeapBuilder& heap, Hid headerHid, std::uint8_t cbKey, std::uint8_t cbEnt, std::vector<BthRecord> records) {
  if (cbKey != 2 && cbKey != 4 && cbKey != 8 && cbKey != 16)
    throw PstError(PstErrorCode::InvalidArgument, "BTH key size must be 2, 4, 8 or 16");
  std::sort(records.begin(), records.end(), [](const BthRecord& a, const BthRecord& b) { return a.key < b.key; });
  for (std::size_t i = 1; i < records.size(); ++i)
    if (records[i].key == records[i - 1].key) throw PstError(PstErrorCode::InvalidArgument, "duplicate BTH key");
  if (headerHid == 0) headerHid = reserveBthHeader(heap);
  std::vector<BthChild> leaves;
  const std::size_t perLeaf = bthLeafCapacity(cbKey, cbEnt);
  for (std::size_t i = 0; i < records.size(); i += perLeaf) {
    const std::vector<BthRecord> part(records.begin() + static_cast<std::ptrdiff_t>(i),
                                      records.begin() + static_cast<std::ptrdiff_t>(std::min(records.size(), i + perLeaf)));
    leaves.push_back({records[i].key, heap.allocate(bthLeafBytes(part, cbKey, cbEnt))});
  }
  writeBthIndex(heap, headerHid, cbKey, cbEnt, std::move(leaves));
  return headerHid;
}

}  // namespace vexl::pst
