#include "mapi/pst/property_context.h"

#include "mapi/pst/bth.h"
#include "mapi/pst/byte_writer.h"
#include "mapi/pst/heap_on_node.h"
#include "mapi/pst/pst_error.h"

namespace vexl::pst {

Hnid HnidPlacer::place(std::vector<std::uint8_t> bytes) {
  if (bytes.empty()) return 0;
  if (bytes.size() <= kMaxHeapAllocation) return heap_.allocate(bytes);
  const Nid nid = nids_.allocate(NidType::Ltp);
  SubnodeContent sub{nid, {}};
  const std::size_t max = heap_.format().maxBlockPayload();
  for (std::size_t at = 0; at < bytes.size(); at += max)
    sub.content.blocks.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + max)));
  node_.subnodes.push_back(std::move(sub));
  return nid;
}

void PropertyContextBuilder::set(PropTag tag, std::vector<std::uint8_t> v) {
  const PropType type = tagType(tag);
  const std::uint32_t fixed = fixedValueSize(type);
  if (fixed != 0 && v.size() != fixed)
    throw PstError(PstErrorCode::InvalidArgument, "value size does not match its fixed-size type");
  props_[tagId(tag)] = {type, std::move(v)};
}

void PropertyContextBuilder::build(NodeContent& node, SubnodeNids& nids) const {
  HeapBuilder heap(format_, HeapClient::PropertyContext);
  HnidPlacer placer(heap, node, nids);
  // The BTHHEADER is the heap's first allocation (hidUserRoot 0x20, as in
  // Outlook's files); the records follow the values they point to.
  const Hid header = reserveBthHeader(heap);
  std::vector<BthRecord> records;
  records.reserve(props_.size());
  for (const auto& [id, tv] : props_) {
    const auto& [type, bytes] = tv;
    std::uint32_t hnid = 0;
    if (isInlineInPc(type)) {
      for (std::size_t i = 0; i < bytes.size(); ++i) hnid |= std::uint32_t{bytes[i]} << (8 * i);
    } else {
      hnid = placer.place(bytes);
    }
    BthRecord rec{id, std::vector<std::uint8_t>(6)};
    storeLe16(rec.data.data(), type);
    storeLe32(rec.data.data() + 2, hnid);
    records.push_back(std::move(rec));
  }
  heap.setUserRoot(buildBth(heap, header, 2, 6, std::move(records)));
  for (auto& block : heap.finish()) node.blocks.push_back(std::move(block));
}

}  // namespace vexl::pst
