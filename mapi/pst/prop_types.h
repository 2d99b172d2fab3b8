// Property types and how big their values are, the one place the LTP
// writers ask ([MS-PST] 2.3.3.1 "Property types", [MS-OXCDATA] 2.11.1):
// which types are fixed-size, which fit inline in a PC's dwValueHnid
// ([MS-PST] 2.3.3.3), how wide a TC cell is ([MS-PST] 2.3.4.4.1), and the
// layout of multi-valued values ([MS-PST] 2.3.3.4).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vexl::pst {

using PropTag = std::uint32_t;
using PropType = std::uint16_t;

constexpr PropTag makeTag(std::uint16_t id, PropType type) { return (std::uint32_t{id} << 16) | type; }
constexpr std::uint16_t tagId(PropTag tag) { return static_cast<std::uint16_t>(tag >> 16); }
constexpr PropType tagType(PropTag tag) { return static_cast<PropType>(tag & 0xFFFF); }

namespace pt {
inline constexpr PropType Short = 0x0002;
inline constexpr PropType Long = 0x0003;
inline constexpr PropType Float = 0x0004;
inline constexpr PropType Double = 0x0005;
inline constexpr PropType Currency = 0x0006;
inline constexpr PropType AppTime = 0x0007;
inline constexpr PropType Error = 0x000A;
inline constexpr PropType Boolean = 0x000B;
inline constexpr PropType Object = 0x000D;
inline constexpr PropType LongLong = 0x0014;
inline constexpr PropType String8 = 0x001E;
inline constexpr PropType Unicode = 0x001F;
inline constexpr PropType SysTime = 0x0040;
inline constexpr PropType Clsid = 0x0048;
inline constexpr PropType ServerId = 0x00FB;
inline constexpr PropType Restriction = 0x00FD;
inline constexpr PropType RuleAction = 0x00FE;
inline constexpr PropType Binary = 0x0102;
inline constexpr PropType MultiValued = 0x1000;
}  // namespace pt

// Size of a fixed-size value, 0 for variable-size and multi-valued types.
constexpr std::uint32_t fixedValueSize(PropType type) {
  switch (type) {
    case pt::Boolean:
      return 1;
    case pt::Short:
      return 2;
    case pt::Long:
    case pt::Float:
    case pt::Error:
      return 4;
    case pt::Double:
    case pt::Currency:
    case pt::AppTime:
    case pt::LongLong:
    case pt::SysTime:
      return 8;
    case pt::Clsid:
      return 16;
    default:
      return 0;
  }
}

constexpr bool isMultiValued(PropType type) { return (type & pt::MultiValued) != 0; }

// A PC stores fixed values of at most 4 bytes in dwValueHnid itself.
constexpr bool isInlineInPc(PropType type) {
  const std::uint32_t size = fixedValueSize(type);
  return size != 0 && size <= 4;
}

// Width of a TC cell: fixed values up to 8 bytes in the row, everything
// else as a 4-byte HNID.
constexpr std::uint32_t tcCellSize(PropType type) {
  const std::uint32_t size = fixedValueSize(type);
  return size != 0 && size <= 8 ? size : 4;
}

// The largest heap allocation ([MS-PST] 2.3.1.1); bigger values go to a
// subnode of their own.
inline constexpr std::uint32_t kMaxHeapAllocation = 3580;

// Value bytes as the LTP layer stores them.
namespace value {
std::vector<std::uint8_t> int16(std::int16_t v);
std::vector<std::uint8_t> int32(std::int32_t v);
std::vector<std::uint8_t> uint32(std::uint32_t v);
std::vector<std::uint8_t> int64(std::int64_t v);
std::vector<std::uint8_t> boolean(bool v);
std::vector<std::uint8_t> fileTime(std::uint64_t v);
// PT_UNICODE: UTF-16LE from UTF-8, no terminator.
std::vector<std::uint8_t> unicode(std::string_view utf8);
// PT_STRING8: the bytes as given, no terminator.
std::vector<std::uint8_t> string8(std::string_view bytes);
// A PT_UNICODE or PT_STRING8 value of `type` from UTF-8.
std::vector<std::uint8_t> string(PropType type, std::string_view utf8);
std::vector<std::uint8_t> binary(std::span<const std::uint8_t> bytes);
// Multi-valued variable-size types (PT_MV_UNICODE, PT_MV_STRING8,
// PT_MV_BINARY): ulCount, rgulDataOffsets[], then the items.
std::vector<std::uint8_t> multiVariable(const std::vector<std::vector<std::uint8_t>>& items);
// Multi-valued fixed-size types: the items back to back.
std::vector<std::uint8_t> multiFixed(const std::vector<std::vector<std::uint8_t>>& items);
}  // namespace value

}  // namespace vexl::pst
