// CFile64Ex: the buffered reader of the source file. Two cache windows serve
// the scans' small overlapping reads from memory; a sector the OS cannot read
// comes back as zero bytes so that a scan always reaches the end of the file.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/file/file64.h"

namespace vexl {

struct CacheWindow {
  unsigned char* data = nullptr;
  std::uint32_t capacity = 0;
  std::uint64_t start = 0;
  std::uint32_t validBytes = 0;

  bool usable() const { return data != nullptr && capacity != 0 && validBytes != 0; }
  bool holds(std::uint64_t offset) const {
    return usable() && offset >= start && offset - start < validBytes;
  }
};

class CFile64Ex : public CFile64 {
 public:
  // 0 means 4096. The engine uses 65536 for the source file.
  explicit CFile64Ex(std::uint32_t windowCapacity);
  ~CFile64Ex() noexcept(false) override;

  bool open(const std::string& path, std::uint32_t modeFlags, FileError* error) override;
  std::uint32_t read(void* buffer, std::uint32_t count) override;
  std::uint64_t seek(std::int64_t offset, int origin) override;
  std::uint64_t position() override { return position_; }

  std::uint32_t sectorSize() const { return sectorSize_; }
  std::uint32_t windowCapacity() const { return windowCapacity_; }
  const CacheWindow& windowA() const { return windowA_; }
  const CacheWindow& windowB() const { return windowB_; }

 private:
  std::uint32_t rawRead(std::uint64_t offset, unsigned char* out, std::uint32_t count);
  std::uint32_t readBySectors(std::uint64_t offset, unsigned char* out, std::uint32_t count);
  std::uint32_t refill();

  std::uint32_t windowCapacity_;
  std::unique_ptr<unsigned char[]> cacheBuffer_;
  CacheWindow windowA_;
  CacheWindow windowB_;
  std::uint64_t position_ = 0;
  std::uint32_t sectorSize_ = 512;
};

}  // namespace vexl
