// Errors of the PST writer. Every failure the caller can act on carries a
// code; I/O failures carry errno.
#pragma once

#include <stdexcept>
#include <string>

namespace vexl::pst {

enum class PstErrorCode {
  Io,              // a read, write or sync of the file failed
  FileTooLarge,    // the write would take the file past the variant's size limit
  TooMuchData,     // a data tree or table larger than [MS-PST] can describe
  InvalidArgument, // a NID, BID or value the format cannot take
  NotFound,        // replaceNode / deleteNode of a NID that is not in the NBT
  Exists,          // createNode of a NID that is already in the NBT
};

class PstError : public std::runtime_error {
 public:
  PstError(PstErrorCode code, const std::string& what) : std::runtime_error(what), code_(code) {}
  PstErrorCode code() const { return code_; }

 private:
  PstErrorCode code_;
};

}  // namespace vexl::pst
