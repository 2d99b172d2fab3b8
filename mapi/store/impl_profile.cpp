// IProfAdmin, IMsgServiceAdmin and IMAPISession over the process's
// profiles.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>

#include "mapi/mapix.h"
#include "mapi/store/com_object.h"
#include "mapi/store/objects.h"
#include "mapi/store/profiles.h"

namespace vexl::mapi::store {
namespace {

struct Service {
  MAPIUID uid{};
  std::string name;  // "MSUPST MS" or "MSPST MS"
  bool unicode = false;
  std::shared_ptr<StoreContext> ctx;
};

struct Profile {
  std::string name;
  std::vector<std::shared_ptr<Service>> services;
};

// Profile names compare without regard to ASCII case.
struct NameLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
      return std::tolower(x) < std::tolower(y);
    });
  }
};

std::mutex registryMutex;
std::map<std::string, std::shared_ptr<Profile>, NameLess>& registry() {
  static auto* profiles = new std::map<std::string, std::shared_ptr<Profile>, NameLess>();
  return *profiles;
}

std::shared_ptr<Profile> findProfile(const std::string& name) {
  std::lock_guard lock(registryMutex);
  auto it = registry().find(name);
  return it == registry().end() ? nullptr : it->second;
}

std::string text(LPTSTR s, ULONG flags) {
  if (!s) return {};
  if (flags & MAPI_UNICODE) return utf16ToUtf8(reinterpret_cast<const char16_t*>(s));
  return s;
}

std::vector<std::uint8_t> uidBytes(const MAPIUID& uid) { return {uid.ab, uid.ab + 16}; }

// A store's entry ID in the message stores table: flags, then the
// service's UID.
std::vector<std::uint8_t> storeEntryId(const Service& s) {
  std::vector<std::uint8_t> id(20, 0);
  std::memcpy(id.data() + 4, s.uid.ab, 16);
  return id;
}

const SPropValue* findProp(ULONG count, LPSPropValue props, ULONG id) {
  for (ULONG i = 0; i < count; ++i)
    if (PROP_ID(props[i].ulPropTag) == id) return &props[i];
  return nullptr;
}

std::string stringValue(const SPropValue& v) {
  if (PROP_TYPE(v.ulPropTag) == PT_STRING8 && v.Value.lpszA) return v.Value.lpszA;
  if (PROP_TYPE(v.ulPropTag) == PT_UNICODE && v.Value.lpszW) return utf16ToUtf8(v.Value.lpszW);
  return {};
}

class ServiceAdmin final : public ComObject<ServiceAdmin, IMsgServiceAdmin> {
 public:
  explicit ServiceAdmin(std::shared_ptr<Profile> profile) : profile_(std::move(profile)) {}

  HRESULT QueryInterface(REFIID riid, LPVOID* out) override { return answer(riid, out, {IID_IMsgServiceAdmin}); }
  HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR* err) override {
    if (err) *err = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT GetMsgServiceTable(ULONG, LPMAPITABLE* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    std::vector<PropMap> rows;
    for (const auto& s : profile_->services) {
      PropMap row;
      row[PR_SERVICE_UID] = uidBytes(s->uid);
      row[PR_SERVICE_NAME_A] = pst::value::string8(s->name);
      row[PR_DISPLAY_NAME_A] = pst::value::string8(s->unicode ? "Personal Folders (Unicode)" : "Personal Folders");
      rows.push_back(std::move(row));
    }
    *out = makeRowTable(std::move(rows));
    return S_OK;
  }
  HRESULT CreateMsgService(LPTSTR service, LPTSTR, ULONG_PTR, ULONG flags) override {
    const std::string name = text(service, flags);
    if (name != "MSUPST MS" && name != "MSPST MS") return MAPI_E_NOT_FOUND;
    auto s = std::make_shared<Service>();
    s->name = name;
    s->unicode = name == "MSUPST MS";
    std::random_device rd;
    for (auto& b : s->uid.ab) b = static_cast<BYTE>(rd());
    std::lock_guard lock(registryMutex);
    profile_->services.push_back(std::move(s));
    return S_OK;
  }
  HRESULT DeleteMsgService(LPMAPIUID uid) override {
    if (!uid) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard lock(registryMutex);
    auto& v = profile_->services;
    auto it = std::find_if(v.begin(), v.end(), [uid](const auto& s) { return std::memcmp(s->uid.ab, uid->ab, 16) == 0; });
    if (it == v.end()) return MAPI_E_NOT_FOUND;
    v.erase(it);
    return S_OK;
  }
  HRESULT CopyMsgService(LPMAPIUID, LPTSTR, LPCIID, LPCIID, LPVOID, ULONG_PTR, ULONG) override {
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT RenameMsgService(LPMAPIUID, ULONG, LPTSTR) override { return MAPI_E_NO_SUPPORT; }

  HRESULT ConfigureMsgService(LPMAPIUID uid, ULONG_PTR, ULONG, ULONG count, LPSPropValue props) override {
    if (!uid || (count && !props)) return MAPI_E_INVALID_PARAMETER;
    std::shared_ptr<Service> service;
    for (const auto& s : profile_->services)
      if (std::memcmp(s->uid.ab, uid->ab, 16) == 0) service = s;
    if (!service) return MAPI_E_NOT_FOUND;
    const SPropValue* path = findProp(count, props, PROP_ID(PR_PST_PATH));
    if (!path || stringValue(*path).empty()) return MAPI_E_UNCONFIGURED;
    if (service->ctx) return MAPI_E_NO_SUPPORT;  // moving a configured store elsewhere
    const SPropValue* name = findProp(count, props, PROP_ID(PR_DISPLAY_NAME));
    const SPropValue* enc = findProp(count, props, PROP_ID(PR_PST_ENCRYPTION));
    // Unicode files default to compressible encryption, as new files do.
    pst::CryptMethod crypt = pst::CryptMethod::Permute;
    if (enc && PROP_TYPE(enc->ulPropTag) == PT_LONG) {
      if (enc->Value.ul & PSTF_NO_ENCRYPTION) crypt = pst::CryptMethod::None;
      else if (enc->Value.ul & PSTF_BEST_ENCRYPTION) crypt = pst::CryptMethod::Cyclic;
      else if (enc->Value.ul & PSTF_COMPRESSABLE_ENCRYPTION) crypt = pst::CryptMethod::Permute;
      else return MAPI_E_INVALID_PARAMETER;
    }
    const std::string display = name ? stringValue(*name) : std::string();
    try {
      service->ctx = std::make_shared<StoreContext>(stringValue(*path), service->unicode, crypt,
                                                    display.empty() ? "Personal Folders" : display);
    } catch (...) {
      const HRESULT hr = errorFromException();
      return hr == MAPI_E_CALL_FAILED ? MAPI_E_DISK_ERROR : hr;
    }
    return S_OK;
  }
  HRESULT OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT* out) override {
    if (out) *out = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT MsgServiceTransportOrder(ULONG, LPMAPIUID, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT AdminProviders(LPMAPIUID, ULONG, LPPROVIDERADMIN* out) override {
    if (out) *out = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT SetPrimaryIdentity(LPMAPIUID, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT GetProviderTable(ULONG, LPMAPITABLE* out) override {
    if (out) *out = nullptr;
    return MAPI_E_NO_SUPPORT;
  }

 private:
  std::shared_ptr<Profile> profile_;
};

class ProfAdmin final : public ComObject<ProfAdmin, IProfAdmin> {
 public:
  HRESULT QueryInterface(REFIID riid, LPVOID* out) override { return answer(riid, out, {IID_IProfAdmin}); }
  HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR* err) override {
    if (err) *err = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT GetProfileTable(ULONG, LPMAPITABLE* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    std::vector<PropMap> rows;
    std::lock_guard lock(registryMutex);
    for (const auto& [name, p] : registry()) rows.push_back({{PR_DISPLAY_NAME_A, pst::value::string8(name)}});
    *out = makeRowTable(std::move(rows));
    return S_OK;
  }
  HRESULT CreateProfile(LPTSTR name, LPTSTR, ULONG_PTR, ULONG flags) override {
    const std::string n = text(name, flags);
    if (n.empty() || n.size() > 64) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard lock(registryMutex);
    auto [it, added] = registry().emplace(n, nullptr);
    if (!added) return E_ACCESSDENIED;  // the name is taken
    it->second = std::make_shared<Profile>();
    it->second->name = n;
    return S_OK;
  }
  HRESULT DeleteProfile(LPTSTR name, ULONG flags) override {
    const std::string n = text(name, flags);
    std::lock_guard lock(registryMutex);
    return registry().erase(n) ? S_OK : MAPI_E_NOT_FOUND;
  }
  HRESULT ChangeProfilePassword(LPTSTR, LPTSTR, LPTSTR, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT CopyProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT RenameProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT SetDefaultProfile(LPTSTR, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT AdminServices(LPTSTR name, LPTSTR, ULONG_PTR, ULONG flags, LPSERVICEADMIN* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    auto profile = findProfile(text(name, flags));
    if (!profile) return MAPI_E_NOT_FOUND;
    *out = new ServiceAdmin(std::move(profile));
    return S_OK;
  }
};

class Session final : public ComObject<Session, IMAPISession> {
 public:
  explicit Session(std::shared_ptr<Profile> profile) : profile_(std::move(profile)) {}

  HRESULT QueryInterface(REFIID riid, LPVOID* out) override { return answer(riid, out, {IID_IMAPISession}); }
  HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR* err) override {
    if (err) *err = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT GetMsgStoresTable(ULONG, LPMAPITABLE* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (loggedOff_) return MAPI_E_END_OF_SESSION;
    std::vector<PropMap> rows;
    bool first = true;
    for (const auto& s : profile_->services) {
      if (!s->ctx) continue;
      PropMap row;
      row[PR_ENTRYID] = storeEntryId(*s);
      row[PR_DISPLAY_NAME_A] = pst::value::string8(s->ctx->builder().displayName());
      row[PR_DEFAULT_STORE] = pst::value::boolean(first);
      row[PR_RESOURCE_FLAGS] = pst::value::uint32(first ? STATUS_DEFAULT_STORE : 0);
      row[PR_SERVICE_UID] = uidBytes(s->uid);
      rows.push_back(std::move(row));
      first = false;
    }
    *out = makeRowTable(std::move(rows));
    return S_OK;
  }
  HRESULT OpenMsgStore(ULONG_PTR, ULONG cb, LPENTRYID eid, LPCIID iid, ULONG flags, LPMDB* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (loggedOff_) return MAPI_E_END_OF_SESSION;
    if (!eid || cb != 20) return MAPI_E_INVALID_ENTRYID;
    if (iid && *iid != IID_IMsgStore && *iid != IID_IMAPIProp && *iid != IID_IUnknown)
      return MAPI_E_INTERFACE_NOT_SUPPORTED;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(eid);
    for (const auto& s : profile_->services) {
      if (s->ctx && std::memcmp(s->uid.ab, bytes + 4, 16) == 0) {
        *out = makeMsgStore(s->ctx, (flags & (MDB_WRITE | MAPI_BEST_ACCESS)) != 0, storeEntryId(*s));
        return S_OK;
      }
    }
    return MAPI_E_NOT_FOUND;
  }
  HRESULT OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK* out) override {
    if (out) *out = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT OpenProfileSection(LPMAPIUID, LPCIID, ULONG, LPPROFSECT* out) override {
    if (out) *out = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT GetStatusTable(ULONG, LPMAPITABLE* out) override {
    if (out) *out = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG* type, LPUNKNOWN* out) override {
    if (type) *type = 0;
    if (out) *out = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG_PTR*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
  HRESULT MessageOptions(ULONG_PTR, ULONG, LPTSTR, LPMESSAGE) override { return MAPI_E_NO_SUPPORT; }
  HRESULT QueryDefaultMessageOpt(LPTSTR, ULONG, ULONG*, LPSPropValue*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT EnumAdrTypes(ULONG, ULONG*, LPTSTR**) override { return MAPI_E_NO_SUPPORT; }
  HRESULT QueryIdentity(ULONG*, LPENTRYID*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT Logoff(ULONG_PTR, ULONG, ULONG) override {
    loggedOff_ = true;
    return S_OK;
  }
  HRESULT SetDefaultStore(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
  HRESULT AdminServices(ULONG, LPSERVICEADMIN* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = new ServiceAdmin(profile_);
    return S_OK;
  }
  HRESULT ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG, ULONG,
                   LPSTR) override {
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT PrepareForm(LPCIID, LPMESSAGE, ULONG*) override { return MAPI_E_NO_SUPPORT; }

 private:
  std::shared_ptr<Profile> profile_;
  bool loggedOff_ = false;
};

}  // namespace

HRESULT adminProfiles(LPPROFADMIN* out) {
  *out = new ProfAdmin();
  return S_OK;
}

HRESULT logon(LPTSTR profileName, FLAGS flags, LPMAPISESSION* out) {
  auto profile = findProfile(text(profileName, flags));
  if (!profile) return MAPI_E_LOGON_FAILED;
  *out = new Session(std::move(profile));
  return S_OK;
}

}  // namespace vexl::mapi::store
