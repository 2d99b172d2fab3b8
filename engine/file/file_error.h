// What a failed file operation reports: a cause from a fixed table, the
// operating system's error number and the file's path.
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/engine_exception.h"

namespace vexl {

class FileError : public EngineException {
 public:
  enum Cause : std::int32_t {
    kNone = 0,
    kGeneric = 1,
    kFileNotFound = 2,
    kBadPath = 3,
    kTooManyOpenFiles = 4,
    kAccessDenied = 5,
    kInvalidFile = 6,
    kRemoveCurrentDir = 7,
    kDirectoryFull = 8,
    kBadSeek = 9,
    kHardIo = 10,
    kSharingViolation = 11,
    kLockViolation = 12,
    kDiskFull = 13,
    kEndOfFile = 14,
  };

  FileError() = default;
  FileError(std::int32_t cause, int osError, std::string path)
      : cause(cause), osError(osError), path(std::move(path)) {}

  // The cause's message with %1 replaced by the path.
  bool description(std::string& out) const override;

  // errno mapped onto a cause by meaning.
  static std::int32_t causeFromErrno(int osError);

  std::int32_t cause = kNone;
  int osError = 0;  // -1 when the failure has none (a short write)
  std::string path;
};

}  // namespace vexl
