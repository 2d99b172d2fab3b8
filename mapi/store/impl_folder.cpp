// IMAPIFolder over one folder of the PST file. Folder properties are
// written through to the store at once (the PST provider's folders are
// not transacted); SaveChanges is a commit point.
#include "engine/core/code_page.h"
#include "mapi/store/com_object.h"
#include "mapi/store/objects.h"

namespace vexl::mapi::store {
namespace {

class Folder final : public PropObject<Folder, IMAPIFolder> {
 public:
  Folder(std::shared_ptr<StoreContext> ctx, pst::Nid nid, bool writable)
      : ctx_(std::move(ctx)), nid_(nid), writable_(writable) {}

  HRESULT QueryInterface(REFIID riid, LPVOID* out) override {
    return answer(riid, out, {IID_IMAPIProp, IID_IMAPIContainer, IID_IMAPIFolder});
  }
  HRESULT SaveChanges(ULONG) override {
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    return ctx_->commit();
  }
  HRESULT GetContentsTable(ULONG, LPMAPITABLE* t) override { return none(t); }
  HRESULT GetHierarchyTable(ULONG, LPMAPITABLE* t) override { return none(t); }
  HRESULT OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG* type, LPUNKNOWN* out) override {
    if (type) *type = 0;
    if (out) *out = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) override { return MAPI_E_NO_SUPPORT; }

  HRESULT CreateMessage(LPCIID iid, ULONG, LPMESSAGE* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    if (HRESULT hr = writable(); FAILED(hr)) return hr;
    if (iid && *iid != IID_IMessage && *iid != IID_IMAPIProp && *iid != IID_IUnknown)
      return MAPI_E_INTERFACE_NOT_SUPPORTED;
    // The message has its entry ID from the start, so that one whose
    // save is refused can still be named to DeleteMessages.
    pst::Nid message = 0;
    try {
      message = ctx_->builder().reserveMessageNid(nid_);
    } catch (...) {
      return errorFromException();
    }
    *out = makeMessage(ctx_, nid_, message);
    return S_OK;
  }
  HRESULT CopyMessages(LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
    return MAPI_E_NO_SUPPORT;
  }
  // Removes the listed messages of this folder; entries that name none of
  // them are skipped and reported as a partial completion.
  HRESULT DeleteMessages(LPENTRYLIST list, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
    if (!list || (list->cValues != 0 && !list->lpbin)) return MAPI_E_INVALID_PARAMETER;
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    if (HRESULT hr = writable(); FAILED(hr)) return hr;
    auto& b = ctx_->builder();
    bool all = true;
    try {
      for (ULONG i = 0; i < list->cValues; ++i) {
        const SBinary& eid = list->lpbin[i];
        const pst::Nid nid = b.nidFromEntryId(eid.lpb, eid.cb);
        if (nid == 0 || !b.deleteMessage(nid_, nid)) all = false;
      }
    } catch (...) {
      return errorFromException();
    }
    return all ? S_OK : MAPI_W_PARTIAL_COMPLETION;
  }

  HRESULT CreateFolder(ULONG type, LPTSTR name, LPTSTR comment, LPCIID iid, ULONG flags,
                       LPMAPIFOLDER* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (!name) return MAPI_E_INVALID_PARAMETER;
    if (type != FOLDER_GENERIC && type != FOLDER_SEARCH) return MAPI_E_INVALID_PARAMETER;
    if (iid && *iid != IID_IMAPIFolder && *iid != IID_IMAPIContainer && *iid != IID_IMAPIProp && *iid != IID_IUnknown)
      return MAPI_E_INTERFACE_NOT_SUPPORTED;
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    if (HRESULT hr = writable(); FAILED(hr)) return hr;
    const bool wide = (flags & MAPI_UNICODE) != 0;
    const std::string folderName = wide ? utf16ToUtf8(reinterpret_cast<const char16_t*>(name)) : ansiToUtf8(name);
    if (folderName.empty()) return MAPI_E_INVALID_PARAMETER;
    auto& b = ctx_->builder();
    pst::Nid child = b.findChildFolder(nid_, folderName);
    if (child != 0) {
      if (!(flags & OPEN_IF_EXISTS)) return MAPI_E_COLLISION;
    } else {
      try {
        // Search folders are written as generic folders.
        child = b.addFolder(nid_, folderName, "");
        if (comment) {
          const std::string text =
              wide ? utf16ToUtf8(reinterpret_cast<const char16_t*>(comment)) : ansiToUtf8(comment);
          b.setFolderProps(child, {{b.stringTag(0x3004), pst::value::string(
                                                              static_cast<pst::PropType>(ctx_->stringType()), text)}});
        }
      } catch (...) {
        return errorFromException();
      }
    }
    *out = makeFolder(ctx_, child, true);
    return S_OK;
  }
  HRESULT CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT DeleteFolder(ULONG cb, LPENTRYID eid, ULONG_PTR, LPMAPIPROGRESS, ULONG flags) override {
    if (!eid || cb == 0) return MAPI_E_INVALID_PARAMETER;
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    if (HRESULT hr = writable(); FAILED(hr)) return hr;
    // Deleting what a folder still holds is not offered: only empty
    // folders go.
    if (flags & (DEL_FOLDERS | DEL_MESSAGES)) return MAPI_E_NO_SUPPORT;
    auto& b = ctx_->builder();
    const pst::Nid nid = b.nidFromEntryId(reinterpret_cast<const std::uint8_t*>(eid), cb);
    if (nid == 0) return MAPI_E_INVALID_ENTRYID;
    try {
      switch (b.deleteFolder(nid_, nid)) {
        case pst::DeleteFolderResult::Deleted: return S_OK;
        case pst::DeleteFolderResult::NotFound: return MAPI_E_NOT_FOUND;
        case pst::DeleteFolderResult::HasFolders: return MAPI_E_HAS_FOLDERS;
        case pst::DeleteFolderResult::HasMessages: return MAPI_E_HAS_MESSAGES;
        case pst::DeleteFolderResult::Refused: return MAPI_E_NO_ACCESS;
      }
    } catch (...) {
      return errorFromException();
    }
    return MAPI_E_CALL_FAILED;
  }
  HRESULT SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT SaveContentsSort(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) override { return MAPI_E_NO_SUPPORT; }

 protected:
  PropMap currentProps() override {
    auto& b = ctx_->builder();
    PropMap props = b.folderProps(nid_);
    props[PR_ENTRYID] = b.entryId(nid_);
    props[PR_RECORD_KEY] = b.entryId(nid_);
    props[PR_OBJECT_TYPE] = pst::value::int32(MAPI_FOLDER);
    props[PR_FOLDER_TYPE] = pst::value::int32(nid_ == b.rootFolder() ? FOLDER_ROOT : FOLDER_GENERIC);
    if (nid_ != b.rootFolder()) props[PR_PARENT_ENTRYID] = b.entryId(b.parentOf(nid_));
    return props;
  }
  SCODE store(ULONG tag, std::vector<std::uint8_t> bytes) override {
    try {
      ctx_->builder().setFolderProps(nid_, {{tag, std::move(bytes)}});
      return S_OK;
    } catch (...) {
      return errorFromException();
    }
  }
  void erase(ULONG) override {}
  bool readOnly(ULONG tag) const override {
    const ULONG id = PROP_ID(tag);
    return id == 0x3601 || id == 0x3602 || id == 0x3603 || id == 0x360A || id == 0x3617;
  }
  HRESULT usable() override { return ctx_->builder().hasFolder(nid_) ? S_OK : MAPI_E_OBJECT_DELETED; }
  HRESULT writable() override { return writable_ ? S_OK : MAPI_E_NO_ACCESS; }
  StoreContext& context() override { return *ctx_; }
  ULONG stringType() override { return ctx_->stringType(); }

 private:
  static HRESULT none(LPMAPITABLE* t) {
    if (t) *t = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  std::shared_ptr<StoreContext> ctx_;
  pst::Nid nid_;
  bool writable_;
};

}  // namespace

LPMAPIFOLDER makeFolder(std::shared_ptr<StoreContext> ctx, pst::Nid nid, bool writable) {
  return new Folder(std::move(ctx), nid, writable);
}

}  // namespace vexl::mapi::store
