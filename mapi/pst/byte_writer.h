// Little-endian stores into byte buffers, shared by the NDB and LTP writers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vexl::pst {

inline void storeLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void storeLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void storeLe64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
// A BID or IB in the variant's width (refSize 4 or 8).
inline void storeRef(std::uint8_t* p, std::uint32_t refSize, std::uint64_t v) {
  if (refSize == 8)
    storeLe64(p, v);
  else
    storeLe32(p, static_cast<std::uint32_t>(v));
}

inline std::uint16_t loadLe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t loadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t loadLe64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(loadLe32(p)) | (static_cast<std::uint64_t>(loadLe32(p + 4)) << 32);
}
inline std::uint64_t loadRef(const std::uint8_t* p, std::uint32_t refSize) {
  return refSize == 8 ? loadLe64(p) : loadLe32(p);
}

// Appends little-endian values to a growing buffer.
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<std::uint8_t>& out) : out_(out) {}
  void u8(std::uint8_t v) { out_.push_back(v); }
  void u16(std::uint16_t v) { grow(2, [&](std::uint8_t* p) { storeLe16(p, v); }); }
  void u32(std::uint32_t v) { grow(4, [&](std::uint8_t* p) { storeLe32(p, v); }); }
  void u64(std::uint64_t v) { grow(8, [&](std::uint8_t* p) { storeLe64(p, v); }); }
  void ref(std::uint32_t refSize, std::uint64_t v) { refSize == 8 ? u64(v) : u32(static_cast<std::uint32_t>(v)); }
  void bytes(std::span<const std::uint8_t> b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void zeros(std::size_t n) { out_.insert(out_.end(), n, 0); }
  std::size_t size() const { return out_.size(); }

 private:
  template <typename F>
  void grow(std::size_t n, F&& store) {
    const std::size_t at = out_.size();
    out_.resize(at + n);
    store(out_.data() + at);
  }
  std::vector<std::uint8_t>& out_;
};

}  // namespace vexl::pst
