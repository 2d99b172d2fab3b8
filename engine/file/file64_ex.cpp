#include "engine/file/file64_ex.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "engine/file/os_file.h"

namespace vexl {
namespace {

constexpr std::uint32_t kDefaultWindowCapacity = 4096;
constexpr std::uint32_t kDefaultSectorSize = 512;
constexpr std::size_t kMaxIoChunk = 1u << 30;
constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

}  // namespace

CFile64Ex::CFile64Ex(std::uint32_t windowCapacity)
    : windowCapacity_(windowCapacity == 0 ? kDefaultWindowCapacity : windowCapacity),
      cacheBuffer_(std::make_unique_for_overwrite<unsigned char[]>(std::size_t{2} * windowCapacity_)) {
  windowA_.data = cacheBuffer_.get();
  windowA_.capacity = windowCapacity_;
  windowB_.data = cacheBuffer_.get() + windowCapacity_;
  windowB_.capacity = windowCapacity_;
}

// The cache goes with the members; ~CFile64 then closes the file.
CFile64Ex::~CFile64Ex() noexcept(false) = default;

bool CFile64Ex::open(const std::string& path, std::uint32_t modeFlags, FileError* error) {
  position_ = 0;
  if (!CFile64::open(path, modeFlags, error)) return false;
  const std::uint32_t size = osFile().sectorSize(handle_);
  sectorSize_ = size != 0 ? size : kDefaultSectorSize;
  return true;
}

std::uint64_t CFile64Ex::seek(std::int64_t offset, int origin) {
  std::uint64_t base = 0;
  switch (origin) {
    case kSeekBegin:
      break;
    case kSeekCurrent:
      base = position_;
      break;
    case kSeekEnd:
      base = length();
      break;
    default:
      throw FileError(FileError::kBadSeek, EINVAL, filePath_);
  }
  const auto magnitude = offset < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(offset)
                                    : static_cast<std::uint64_t>(offset);
  if (offset < 0 ? magnitude > base : magnitude > std::numeric_limits<std::uint64_t>::max() - base) {
    throw FileError(FileError::kBadSeek, EINVAL, filePath_);
  }
  position_ = offset < 0 ? base - magnitude : base + magnitude;
  return position_;
}

std::uint32_t CFile64Ex::read(void* buffer, std::uint32_t count) {
  if (count == 0) return 0;
  auto* out = static_cast<unsigned char*>(buffer);
  std::uint32_t remaining = count;
  while (remaining > 0) {
    const CacheWindow* window = windowA_.holds(position_)   ? &windowA_
                                : windowB_.holds(position_) ? &windowB_
                                                            : nullptr;
    if (window != nullptr) {
      const auto inWindow = static_cast<std::uint32_t>(position_ - window->start);
      const std::uint32_t n = std::min(remaining, window->validBytes - inWindow);
      std::memcpy(out, window->data + inWindow, n);
      position_ += n;
      out += n;
      remaining -= n;
    } else if (remaining <= windowCapacity_) {
      if (refill() == 0) break;
    } else {
      // Too big for a window: straight into the caller's buffer, in whole
      // window multiples, leaving both windows as they are.
      const std::uint32_t asked = remaining - remaining % windowCapacity_;
      const std::uint32_t got = rawRead(position_, out, asked);
      position_ += got;
      out += got;
      remaining -= got;
      if (got < asked) break;
    }
  }
  return count - remaining;
}

std::uint32_t CFile64Ex::refill() {
  CacheWindow* target = nullptr;
  if (!windowA_.usable()) {
    target = &windowA_;
  } else if (!windowB_.usable()) {
    target = &windowB_;
  } else if (windowA_.start >= position_ || windowB_.start >= position_) {
    target = windowB_.start >= position_ ? &windowB_ : &windowA_;
  } else {
    target = windowA_.start < windowB_.start ? &windowA_ : &windowB_;
  }
  target->start = position_;
  target->validBytes = rawRead(position_, target->data, target->capacity);
  return target->validBytes;
}

// The result is by definition that of readBySectors over the whole range: a
// sector that cannot be read becomes zeros, so that one bad sector costs only
// its own bytes. A healthy medium answers the whole range in one pread
// (continued after a short answer, which may come before the end of the
// file); only when a pread fails does the rest go sector by sector, from the
// start of the sector the failure lies in.
std::uint32_t CFile64Ex::rawRead(std::uint64_t offset, unsigned char* out, std::uint32_t count) {
  if (handle_ < 0 || offset > kMaxOffset) return 0;  // no position to read from
  OsFile& os = osFile();
  std::uint32_t total = 0;
  while (total < count) {
    const std::size_t chunk = std::min<std::size_t>(count - total, kMaxIoChunk);
    const ssize_t n = os.pread(handle_, out + total, chunk, static_cast<off_t>(offset + total));
    if (n == 0) return total;
    if (n < 0) {
      if (errno == ESPIPE) return total;  // not positionable at all
      const std::uint64_t failedAt = offset + total;
      const std::uint64_t from = std::max(offset, failedAt - failedAt % sectorSize_);
      total = static_cast<std::uint32_t>(from - offset);
      return total + readBySectors(from, out + total, count - total);
    }
    total += static_cast<std::uint32_t>(n);
  }
  return total;
}

// The range is split at sector boundaries (a head up to the next boundary,
// whole sectors, a tail), one read per piece. A failing piece is zero-filled
// and counted as read, and reading resumes after it; a read that returns
// nothing (the end of the file) ends the loop; a short piece is followed by
// the next piece, read from where the short one stopped.
std::uint32_t CFile64Ex::readBySectors(std::uint64_t offset, unsigned char* out, std::uint32_t count) {
  OsFile& os = osFile();
  std::uint64_t pointer = offset;
  std::uint32_t total = 0;
  std::uint32_t unissued = count;
  const auto intoSector = static_cast<std::uint32_t>(offset % sectorSize_);
  std::uint32_t piece = intoSector != 0 ? sectorSize_ - intoSector : sectorSize_;
  while (unissued > 0) {
    piece = std::min(piece, unissued);
    const ssize_t n = os.pread(handle_, out + total, piece, static_cast<off_t>(pointer));
    if (n == 0) return total;
    if (n < 0) {
      std::memset(out + total, 0, piece);
      total += piece;
      pointer += piece;
    } else {
      total += static_cast<std::uint32_t>(n);
      pointer += static_cast<std::uint64_t>(n);
    }
    unissued -= piece;
    piece = sectorSize_;
  }
  return total;
}

}  // namespace vexl
