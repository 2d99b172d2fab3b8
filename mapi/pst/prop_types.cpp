#include "mapi/pst/prop_types.h"

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

std::vector<std::uint8_t> unicode(std::string_view s) {
  std::vector<std::uint8_t> out;
  auto put = [&](std::uint32_t u) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  };
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<std::uint8_t>(s[i]);
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 0x6 && i + 1 < s.size()) {
      cp = ((c & 0x1Fu) << 6) | (static_cast<std::uint8_t>(s[i + 1]) & 0x3Fu);
      len = 2;
    } else if ((c >> 4) == 0xE && i + 2 < s.size()) {
      cp = ((c & 0x0Fu) << 12) | ((static_cast<std::uint8_t>(s[i + 1]) & 0x3Fu) << 6) |
           (static_cast<std::uint8_t>(s[i + 2]) & 0x3Fu);
      len = 3;
    } else if ((c >> 3) == 0x1E && i + 3 < s.size()) {
      cp = ((c & 0x07u) << 18) | ((static_cast<std::uint8_t>(s[i + 1]) & 0x3Fu) << 12) |
           ((static_cast<std::uint8_t>(s[i + 2]) & 0x3Fu) << 6) | (static_cast<std::uint8_t>(s[i + 3]) & 0x3Fu);
      len = 4;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

std::vector<std::uint8_t> string8(std::string_view bytes) { return {bytes.begin(), bytes.end()}; }

std::vector<std::uint8_t> string(PropType type, std::string_view utf8) {
  return type == pt::Unicode ? unicode(utf8) : string8(utf8);
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
