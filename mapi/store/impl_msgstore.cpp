// IMsgStore over one PST file, HrValidateIPMSubtree, named properties.
#include <cstring>

#include "mapi/mapiutil.h"
#include "mapi/store/com_object.h"
#include "mapi/store/objects.h"

namespace vexl::mapi::store {

bool isComputedTag(ULONG tag) {
  switch (PROP_ID(tag)) {
    case 0x0FFF:  // PR_ENTRYID
    case 0x0FFE:  // PR_OBJECT_TYPE
    case 0x0FFB:  // PR_STORE_ENTRYID
    case 0x0FFA:  // PR_STORE_RECORD_KEY
    case 0x0FF9:  // PR_RECORD_KEY
    case 0x0FF8:  // PR_MAPPING_SIGNATURE
    case 0x0FF7:  // PR_ACCESS_LEVEL
    case 0x0FF6:  // PR_INSTANCE_KEY
    case 0x0FF4:  // PR_ACCESS
    case 0x0E09:  // PR_PARENT_ENTRYID
      return true;
    default:
      // The LTP's own row ids and versions and the PST password.
      return PROP_ID(tag) >= PROP_ID_SECURE_MIN && PROP_ID(tag) <= PROP_ID_SECURE_MAX;
  }
}

HRESULT namesToIds(StoreContext& ctx, ULONG cPropNames, LPMAPINAMEID* names, ULONG flags, LPSPropTagArray* out) {
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  // Listing every name (null names) is not offered.
  if (cPropNames == 0 || !names) return MAPI_E_NO_SUPPORT;
  void* p = nullptr;
  if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(cPropNames)), &p) != S_OK)
    return MAPI_E_NOT_ENOUGH_MEMORY;
  auto* tags = static_cast<LPSPropTagArray>(p);
  tags->cValues = cPropNames;
  HRESULT hr = S_OK;
  for (ULONG i = 0; i < cPropNames; ++i) {
    tags->aulPropTag[i] = PROP_TAG(PT_ERROR, 0);
    const MAPINAMEID* n = names[i];
    if (!n || !n->lpguid || (n->ulKind != MNID_ID && n->ulKind != MNID_STRING) ||
        (n->ulKind == MNID_STRING && !n->Kind.lpwstrName)) {
      hr = MAPI_W_ERRORS_RETURNED;
      continue;
    }
    pst::PropertyName name;
    const GUID& g = *n->lpguid;
    for (int k = 0; k < 4; ++k) name.guid[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(g.Data1 >> (8 * k));
    name.guid[4] = static_cast<std::uint8_t>(g.Data2);
    name.guid[5] = static_cast<std::uint8_t>(g.Data2 >> 8);
    name.guid[6] = static_cast<std::uint8_t>(g.Data3);
    name.guid[7] = static_cast<std::uint8_t>(g.Data3 >> 8);
    std::memcpy(name.guid.data() + 8, g.Data4, 8);
    if (n->ulKind == MNID_ID) {
      name.lid = static_cast<std::uint32_t>(n->Kind.lID);
    } else {
      name.isString = true;
      for (const char16_t* c = n->Kind.lpwstrName; *c; ++c) {
        name.name.push_back(static_cast<std::uint8_t>(*c));
        name.name.push_back(static_cast<std::uint8_t>(*c >> 8));
      }
    }
    try {
      const std::uint16_t id = ctx.builder().namedPropertyId(name, (flags & MAPI_CREATE) != 0);
      if (id == 0) {
        hr = MAPI_W_ERRORS_RETURNED;
        continue;
      }
      tags->aulPropTag[i] = PROP_TAG(PT_UNSPECIFIED, id);
    } catch (...) {
      hr = MAPI_W_ERRORS_RETURNED;  // the map is full
    }
  }
  *out = tags;
  return hr;
}

namespace {

class MsgStore final : public PropObject<MsgStore, IMsgStore> {
 public:
  MsgStore(std::shared_ptr<StoreContext> ctx, bool writable, std::vector<std::uint8_t> entryId)
      : ctx_(std::move(ctx)), writable_(writable), entryId_(std::move(entryId)) {}

  std::shared_ptr<StoreContext> ctx_;
  bool writable_;

  HRESULT QueryInterface(REFIID riid, LPVOID* out) override {
    return answer(riid, out, {IID_IMAPIProp, IID_IMsgStore});
  }
  HRESULT SaveChanges(ULONG) override {
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    return ctx_->commit();
  }
  HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
  HRESULT CompareEntryIDs(ULONG cb1, LPENTRYID e1, ULONG cb2, LPENTRYID e2, ULONG, ULONG* result) override {
    if (!result || (cb1 && !e1) || (cb2 && !e2)) return MAPI_E_INVALID_PARAMETER;
    *result = cb1 == cb2 && (cb1 == 0 || std::memcmp(e1, e2, cb1) == 0);
    return S_OK;
  }
  HRESULT OpenEntry(ULONG cb, LPENTRYID eid, LPCIID iid, ULONG flags, ULONG* type, LPUNKNOWN* out) override {
    if (type) *type = 0;
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    if (cb && !eid) return MAPI_E_INVALID_PARAMETER;
    // No entry ID: the root folder.
    pst::Nid nid = cb == 0 ? ctx_->builder().rootFolder()
                           : ctx_->builder().nidFromEntryId(reinterpret_cast<const std::uint8_t*>(eid), cb);
    if (nid == 0) return MAPI_E_INVALID_ENTRYID;
    if (!ctx_->builder().hasFolder(nid)) return MAPI_E_NOT_FOUND;
    if (iid && *iid != IID_IMAPIFolder && *iid != IID_IMAPIContainer && *iid != IID_IMAPIProp && *iid != IID_IUnknown)
      return MAPI_E_INTERFACE_NOT_SUPPORTED;
    const bool modify = writable_ && (flags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0;
    *out = makeFolder(ctx_, nid, modify);
    if (type) *type = MAPI_FOLDER;
    return S_OK;
  }
  HRESULT SetReceiveFolder(LPTSTR, ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
  HRESULT GetReceiveFolder(LPTSTR, ULONG, ULONG* cb, LPENTRYID* eid, LPTSTR* cls) override {
    if (cb) *cb = 0;
    if (eid) *eid = nullptr;
    if (cls) *cls = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT GetReceiveFolderTable(ULONG, LPMAPITABLE* t) override {
    if (t) *t = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT StoreLogoff(ULONG* flags) override {
    const HRESULT hr = loggedOff_ ? S_OK : ctx_->commit();
    loggedOff_ = true;
    if (flags) *flags = 0;
    return hr;
  }
  HRESULT AbortSubmit(ULONG, LPENTRYID, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT GetOutgoingQueue(ULONG, LPMAPITABLE* t) override {
    if (t) *t = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT SetLockState(LPMESSAGE, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT FinishedMsg(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
  HRESULT NotifyNewMail(LPNOTIFICATION) override { return MAPI_E_NO_SUPPORT; }

 protected:
  PropMap currentProps() override {
    auto& b = ctx_->builder();
    PropMap props = b.storeProps();
    props[PR_ENTRYID] = entryId_;
    props[PR_OBJECT_TYPE] = pst::value::int32(MAPI_STORE);
    props[PR_IPM_SUBTREE_ENTRYID] = b.entryId(b.ipmSubtree());
    props[PR_IPM_WASTEBASKET_ENTRYID] = b.entryId(b.deletedItems());
    props[PR_COMMON_VIEWS_ENTRYID] = b.entryId(b.commonViews());
    props[PR_FINDER_ENTRYID] = b.entryId(b.searchRoot());
    if (!findByIdPresent(props, PR_DISPLAY_NAME)) props[b.stringTag(0x3001)] = pst::value::string(
        static_cast<pst::PropType>(ctx_->stringType()), displayName());
    return props;
  }
  SCODE store(ULONG tag, std::vector<std::uint8_t> bytes) override {
    PropMap one{{tag, std::move(bytes)}};
    ctx_->builder().setStoreProps(one);
    return S_OK;
  }
  void erase(ULONG) override {}
  bool readOnly(ULONG tag) const override {
    const ULONG id = PROP_ID(tag);
    return (id >= 0x35DF && id <= 0x35E7) || id == 0x3400 || id == 0x340D;
  }
  HRESULT usable() override { return loggedOff_ ? MAPI_E_END_OF_SESSION : S_OK; }
  HRESULT writable() override { return writable_ ? S_OK : MAPI_E_NO_ACCESS; }
  StoreContext& context() override { return *ctx_; }
  ULONG stringType() override { return ctx_->stringType(); }

 private:
  static bool findByIdPresent(const PropMap& props, ULONG tag) { return findById(props, tag) != props.end(); }
  std::string displayName() const { return ctx_->builder().displayName(); }
  std::vector<std::uint8_t> entryId_;
  bool loggedOff_ = false;
};

}  // namespace

LPMDB makeMsgStore(std::shared_ptr<StoreContext> ctx, bool writable, std::vector<std::uint8_t> entryId) {
  return new MsgStore(std::move(ctx), writable, std::move(entryId));
}

std::shared_ptr<StoreContext> contextOf(LPMDB store, bool* writable) {
  auto* impl = dynamic_cast<MsgStore*>(store);
  if (!impl) return nullptr;
  if (writable) *writable = impl->writable_;
  return impl->ctx_;
}

}  // namespace vexl::mapi::store

namespace vexl::mapi {

HRESULT HrValidateIPMSubtree(LPMDB lpMDB, ULONG ulFlags, ULONG* lpcValues, LPSPropValue* lppValues,
                             LPMAPIERROR* lpperr) {
  if (lpcValues) *lpcValues = 0;
  if (lppValues) *lppValues = nullptr;
  if (lpperr) *lpperr = nullptr;
  if (!lpMDB || !lpcValues || !lppValues) return MAPI_E_INVALID_PARAMETER;
  bool writable = false;
  auto ctx = store::contextOf(lpMDB, &writable);
  if (!ctx) return MAPI_E_NO_SUPPORT;
  auto& b = ctx->builder();
  ULONG mask = FOLDER_IPM_SUBTREE_VALID | FOLDER_IPM_WASTEBASKET_VALID | FOLDER_COMMON_VIEWS_VALID |
               FOLDER_FINDER_VALID;
  pst::MinimalStoreBuilder::StandardFolders standard;
  if (ulFlags & (MAPI_FORCE_CREATE | MAPI_FULL_IPM_TREE)) {
    if (!writable) return MAPI_E_NO_ACCESS;
    try {
      standard = b.ensureStandardFolders();
    } catch (...) {
      return store::errorFromException();
    }
    if (HRESULT hr = ctx->commit(); FAILED(hr)) return hr;
    mask = 0xFF;
  }
  std::vector<std::pair<ULONG, std::vector<std::uint8_t>>> ids = {
      {PR_IPM_SUBTREE_ENTRYID, b.entryId(b.ipmSubtree())},
      {PR_IPM_WASTEBASKET_ENTRYID, b.entryId(b.deletedItems())},
      {PR_COMMON_VIEWS_ENTRYID, b.entryId(b.commonViews())},
      {PR_FINDER_ENTRYID, b.entryId(b.searchRoot())}};
  if (standard.inbox) {
    ids.push_back({PROP_TAG(PT_BINARY, 0), b.entryId(standard.inbox)});
    ids.push_back({PR_IPM_OUTBOX_ENTRYID, b.entryId(standard.outbox)});
    ids.push_back({PR_IPM_SENTMAIL_ENTRYID, b.entryId(standard.sentItems)});
    ids.push_back({PR_VIEWS_ENTRYID, b.entryId(standard.views)});
  }
  const std::vector<std::uint8_t> maskBytes = pst::value::uint32(mask);
  std::vector<store::WantedProp> list;
  list.push_back({PR_VALID_FOLDER_MASK, PR_VALID_FOLDER_MASK, &maskBytes});
  for (const auto& [tag, bytes] : ids) list.push_back({tag, tag, &bytes});
  return store::allocPropArray(list, lpcValues, lppValues) == S_OK ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

}  // namespace vexl::mapi
