// NamedPropIds: source named-property id (0x8000 and up) -> the id the
// target store assigned to the same name. Filled per target file from the
// source's name-to-id map; read by the property copy, which writes named
// properties under the target's ids.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/ndb/ndb_records.h"

namespace vexl {

class NamedPropIds {
 public:
  void clear() { map_.clear(); }
  // Setting a key that exists replaces its value.
  void set(std::uint32_t sourceId, std::uint32_t targetId) {
    auto& list = map_.appendList(sourceId);
    list.assign(1, targetId);
  }
  // The target id of `sourceId`, or null.
  const std::uint32_t* find(std::uint32_t sourceId) const { return map_.find(sourceId); }
  std::size_t size() const { return map_.keyCount(); }
  bool empty() const { return size() == 0; }

 private:
  // 17 buckets, hashed by the key shifted right by 4.
  VersionMap<std::uint32_t, ~std::uint64_t{0}, 17> map_;
};

}  // namespace vexl
