// One open PST file under the MAPI layer: the NDB writer, the messaging
// builder over it, and the rules for when to commit and when a save is
// refused for size.
//
// Commit points: every folder or store SaveChanges, every message save
// once more than kCommitEveryBytes were written since the last commit,
// StoreLogoff, and the release of the last object that holds the file.
//
// Size limit: an ANSI file stays below 2 GiB (signed 32-bit offsets). A
// message save that could take the file past its limit is refused with
// MAPI_E_NOT_ENOUGH_DISK before anything is written, so the caller can go
// on in a new file; the file keeps everything saved before.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mapi/mapidefs.h"
#include "mapi/pst/minimal_store.h"
#include "mapi/pst/ndb_writer.h"

namespace vexl::mapi::store {

inline constexpr std::uint64_t kCommitEveryBytes = 8u << 20;

class StoreContext {
 public:
  // Creates the file at `path`; throws PstError when it cannot be made.
  StoreContext(const std::string& path, bool unicode, pst::CryptMethod crypt, const std::string& displayName);
  ~StoreContext();
  StoreContext(const StoreContext&) = delete;
  StoreContext& operator=(const StoreContext&) = delete;

  pst::MinimalStoreBuilder& builder() { return *builder_; }
  pst::NdbWriter& ndb() { return *ndb_; }
  bool unicode() const { return unicode_; }
  ULONG stringType() const;
  const std::string& path() const { return path_; }

  // Commits; MAPI_E_DISK_ERROR when the writer fails.
  HRESULT commit();
  // After a message of about `bytes` was written: commits when due.
  HRESULT afterMessage();
  // S_OK when about `bytes` more can be written without passing the limit.
  HRESULT reserve(std::uint64_t bytes) const;

 private:
  std::string path_;
  bool unicode_;
  std::unique_ptr<pst::NdbWriter> ndb_;
  std::unique_ptr<pst::MinimalStoreBuilder> builder_;
};

// Tests only: a file size limit for files created from now on (0: the
// variant's own limit).
void setFileSizeLimitForTesting(std::uint64_t bytes);

// Maps a writer exception to a MAPI error.
HRESULT errorFromException();

}  // namespace vexl::mapi::store
