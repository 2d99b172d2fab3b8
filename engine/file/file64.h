// CFile64: one open file with 64-bit offsets over the OS layer (os_file.h).
// Every operation but open throws FileError when the OS call fails.
#pragma once

#include <cstdint>
#include <string>

#include "engine/file/file_error.h"

namespace vexl {

// Open mode flags.
enum FileMode : std::uint32_t {
  kModeRead = 0x0000,
  kModeWrite = 0x0001,
  kModeReadWrite = 0x0002,
  kShareExclusive = 0x0010,
  kShareDenyWrite = 0x0020,  // others may read, not write
  kShareDenyRead = 0x0030,   // others may write, not read
  kShareDenyNone = 0x0040,
  kModeNoInherit = 0x0080,
  kModeCreate = 0x1000,
  kModeNoTruncate = 0x2000,
  kTypeBinary = 0x8000,
};

inline constexpr std::uint32_t kSourceOpenMode = kTypeBinary | kShareDenyWrite | kModeRead;  // 0x8020
inline constexpr std::uint32_t kTempFileOpenMode =
    kTypeBinary | kModeCreate | kShareExclusive | kModeWrite;  // 0x9011

enum SeekOrigin : int { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };

class CFile64 {
 public:
  CFile64();
  virtual ~CFile64() noexcept(false);
  CFile64(const CFile64&) = delete;
  CFile64& operator=(const CFile64&) = delete;

  // false (and `error` filled with the path as given) when the file cannot
  // be opened; the object then stays closed.
  virtual bool open(const std::string& path, std::uint32_t modeFlags, FileError* error);
  virtual std::uint32_t read(void* buffer, std::uint32_t count);
  virtual void write(const void* buffer, std::uint32_t count);
  virtual std::uint64_t seek(std::int64_t offset, int origin);
  virtual std::uint64_t position();
  virtual std::uint64_t length();
  virtual void close();

  bool isOpen() const;
  const std::string& filePath() const { return filePath_; }

  // Permission bits for a file that open creates, before the umask; 0666
  // unless changed. Temporary files use 0600.
  void setCreatePermissions(std::uint32_t mode) { createPermissions_ = mode; }

 protected:
  int handle_ = -1;
  bool closeOnDestroy_ = false;
  std::string filePath_;

 private:
  std::uint32_t createPermissions_ = 0666;
};

// Both paths exist and name one file (st_dev and st_ino, through symbolic
// and hard links alike).
bool namesSameFile(const std::string& a, const std::string& b);

}  // namespace vexl
