#include "mapi/store/store_context.h"

#include "mapi/mapicode.h"
#include "mapi/mapitags.h"
#include "mapi/pst/pst_error.h"

namespace vexl::mapi::store {

namespace {
std::uint64_t testLimit = 0;
// Room kept for what a commit writes (B-tree pages, maps) beyond the
// message's own blocks, and the overhead of blocks over their values.
constexpr std::uint64_t kSaveReserve = 1u << 20;
}  // namespace

void setFileSizeLimitForTesting(std::uint64_t bytes) { testLimit = bytes; }

StoreContext::StoreContext(const std::string& path, bool unicode, pst::CryptMethod crypt,
                           const std::string& displayName)
    : path_(path), unicode_(unicode) {
  pst::NdbWriterOptions options;
  options.variant = unicode ? pst::Variant::Unicode : pst::Variant::Ansi;
  options.crypt = crypt;
  options.maxFileSize = testLimit;
  ndb_ = pst::NdbWriter::create(path, options);
  builder_ = std::make_unique<pst::MinimalStoreBuilder>(*ndb_, displayName);
  builder_->createStore();
  builder_->commit();
}

StoreContext::~StoreContext() {
  if (!ndb_->failed()) {
    try {
      builder_->commit();
    } catch (...) {
      // The file keeps its last commit.
    }
  }
}

ULONG StoreContext::stringType() const { return unicode_ ? PT_UNICODE : PT_STRING8; }

HRESULT StoreContext::commit() {
  if (ndb_->failed()) return MAPI_E_DISK_ERROR;
  try {
    builder_->commit();
    return S_OK;
  } catch (...) {
    return errorFromException();
  }
}

HRESULT StoreContext::afterMessage() {
  if (ndb_->uncommittedBytes() < kCommitEveryBytes) return S_OK;
  return commit();
}

HRESULT StoreContext::reserve(std::uint64_t bytes) const {
  if (ndb_->failed()) return MAPI_E_DISK_ERROR;
  const std::uint64_t limit = ndb_->maxFileSize();
  if (limit == 0) return S_OK;
  // Blocks carry trailers and alignment, and a heap spreads values over
  // pages: an eighth more than the values plus a fixed reserve is ample.
  const std::uint64_t need = bytes + bytes / 8 + kSaveReserve;
  return ndb_->fileSize() + need > limit ? MAPI_E_NOT_ENOUGH_DISK : S_OK;
}

HRESULT errorFromException() {
  try {
    throw;
  } catch (const pst::PstError& e) {
    switch (e.code()) {
      case pst::PstErrorCode::FileTooLarge: return MAPI_E_NOT_ENOUGH_DISK;
      case pst::PstErrorCode::TooMuchData: return MAPI_E_TOO_BIG;
      case pst::PstErrorCode::Io: return MAPI_E_DISK_ERROR;
      default: return MAPI_E_CALL_FAILED;
    }
  } catch (const std::bad_alloc&) {
    return MAPI_E_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return MAPI_E_CALL_FAILED;
  }
}

}  // namespace vexl::mapi::store
