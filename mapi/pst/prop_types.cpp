#include "mapi/pst/prop_types.h"

#include "engine/core/code_page.h"
#include "mapi/pst/byte_writer.h"

namespace vexl::pst::value {

namespace {
template <typename T>
std::vector<std::uint8_t> le(T v, std::size_t n) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i));
  return out;
}
}  // namespace

std::vector<std::uint8_t> int16(std::int16_t v) { return le(static_cast<std::uint16_t>(v), 2); }
std::vector<std::uint8_t> int32(std::int32_t v) { return le(static_cast<std::uint32_t>(v), 4); }
std::vector<std::uint8_t> uint32(std::uint32_t v) { return le(v, 4); }
std::vector<std::uint8_t> int64(std::int64_t v) { return le(static_cast<std::uint64_t>(v), 8); }
std::vector<std::uint8_t> boolean(bool v) { return {static_cast<std::uint8_t>(v ? 1 : 0)}; }
std::vector<std::uint8_t> fileTime(std::uint64_t v) { return le(v, 8); }

std::vector<std::uint8_t> unicode(std::string_view utf8) {
  std::vector<std::uint8_t> out;
  for (char16_t u : utf8ToUtf16(utf8)) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return out;
}

std::vector<std::uint8_t> string8(std::string_view bytes) { return {bytes.begin(), bytes.end()}; }

// ANSI files hold their strings in the system ANSI code page.
std::vector<std::uint8_t> string(PropType type, std::string_view utf8) {
  return type == pt::Unicode ? unicode(utf8) : string8(utf8ToAnsi(utf8));
}

std::vector<std::uint8_t> binary(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

std::vector<std::uint8_t> multiVariable(const std::vector<std::vector<std::uint8_t>>& items) {
  std::vector<std::uint8_t> out;
  ByteWriter w(out);
  w.u32(static_cast<std::uint32_t>(items.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(4 + 4 * items.size());
  for (const auto& item : items) {
    w.u32(offset);
    offset += static_cast<std::uint32_t>(item.size());
  }
  for (const auto& item : items) w.bytes(item);
  return out;
}

std::vector<std::uint8_t> multiFixed(const std::vector<std::vector<std::uint8_t>>& items) {
  std::vector<std::uint8_t> out;
  for (const auto& item : items) out.insert(out.end(), item.begin(), item.end());
  return out;
}

}  // namespace vexl::pst::value
