// Property context builder ([MS-PST] 2.3.3): a BTH of property id to
// PCBTH records (wPropType, dwValueHnid) on a heap with bClientSig 0xBC.
// Values of at most 4 bytes are inline, others on the heap up to 3580
// bytes and in a subnode of their own beyond ([MS-PST] 2.3.3.3).
#pragma once

#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include "mapi/pst/ndb_types.h"
#include "mapi/pst/heap_on_node.h"
#include "mapi/pst/ndb_writer.h"
#include "mapi/pst/prop_types.h"

namespace vexl::pst {

// Subnode NIDs of one node: values and row matrices that do not fit the
// heap get NID_TYPE_LTP subnodes numbered from 1; attachments and tables of
// a message take their own types from the same counter.
struct SubnodeNids {
  std::uint32_t next = 1;
  Nid allocate(NidType type = NidType::Ltp) { return makeNid(type, next++); }
};

// Where an HNID's value goes: inline (returned as the HNID itself), heap or
// subnode. Shared by the PC and TC builders.
class HnidPlacer {
 public:
  HnidPlacer(HeapBuilder& heap, NodeContent& node, SubnodeNids& nids) : heap_(heap), node_(node), nids_(nids) {}
  // A variable-size value: HID 0 for an empty one, a HID up to 3580 bytes,
  // else the NID of a new subnode holding it.
  Hnid place(std::vector<std::uint8_t> bytes);

 private:
  HeapBuilder& heap_;
  NodeContent& node_;
  SubnodeNids& nids_;
};

class PropertyContextBuilder {
 public:
  explicit PropertyContextBuilder(const NdbFormat& format) : format_(format) {}

  // Sets (or replaces) the value of the property with `tag`'s id.
  void set(PropTag tag, std::vector<std::uint8_t> value);
  void setInt32(PropTag tag, std::int32_t v) { set(tag, value::int32(v)); }
  void setBool(PropTag tag, bool v) { set(tag, value::boolean(v)); }
  void setInt64(PropTag tag, std::int64_t v) { set(tag, value::int64(v)); }
  void setString(PropTag tag, std::string_view utf8) { set(tag, value::string(tagType(tag), utf8)); }
  bool has(std::uint16_t id) const { return props_.count(id) != 0; }
  std::size_t size() const { return props_.size(); }

  // The node's heap blocks, plus subnodes for large values, into `node`.
  void build(NodeContent& node, SubnodeNids& nids) const;
  NodeContent build() const {
    NodeContent node;
    SubnodeNids nids;
    build(node, nids);
    return node;
  }

 private:
  const NdbFormat& format_;
  std::map<std::uint16_t, std::pair<PropType, std::vector<std::uint8_t>>> props_;
};

}  // namespace vexl::pst
