#include "engine/mapiout/target_store.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "mapi/mapialloc.h"
#include "mapi/mapiguid.h"
#include "mapi/mapitags.h"
#include "mapi/mapiutil.h"
#include "mapi/mapix.h"
#include "mapi/store/prop_convert.h"

namespace vexl {
namespace {

using namespace mapi;

// The profile helper's process-wide state: one temporary profile at a time.
struct ProfileHelper {
  LPPROFADMIN admin = nullptr;
  LPSERVICEADMIN serviceAdmin = nullptr;
  bool profileCreated = false;
  MAPIUID serviceUid{};
};
ProfileHelper helper;
char* helperProfileName = nullptr;

// The group folder counter lives as long as the process.
unsigned long groupCounter = 1;

constexpr std::uint32_t kValidFolderMaskTag = 0x35DF0003;

// The mask bit that keeps each key, and the order in which folders whose bit
// is clear are released.
constexpr std::pair<std::uint32_t, std::uint32_t> kMaskBits[] = {
    {kFolderCommonViews, 0x40}, {kFolderFinder, 0x80},    {kFolderInbox, 0x02},       {kFolderOutbox, 0x04},
    {kFolderSentItems, 0x10},   {kFolderIpmSubtree, 0x01}, {kFolderDeletedItems, 0x08}, {kFolderViews, 0x20}};

bool isFolderKey(std::uint32_t tag) {
  for (const auto& [key, bit] : kMaskBits)
    if (key == tag) return true;
  return false;
}

void releaseHelper() {
  if (helper.serviceAdmin) helper.serviceAdmin->Release();
  if (helper.admin && helper.profileCreated && helperProfileName) helper.admin->DeleteProfile(helperProfileName, 0);
  if (helper.admin) helper.admin->Release();
  helper = ProfileHelper{};
}

class MapiTargetStore final : public TargetStore {
 public:
  ~MapiTargetStore() override { shutdown(); }

  bool initialize() override {
    initialized_ = MAPIInitialize(nullptr) == S_OK;
    return initialized_;
  }

  bool create(const std::string& path, std::uint32_t encryption, const std::string& displayName,
              const std::string& password, PstFormat format) override {
    close();
    std::remove(path.c_str());  // an existing output file is replaced
    path_ = path;
    encryption_ = encryption;
    displayName_ = displayName;
    password_ = password;
    unicode_ = format == PstFormat::Unicode;
    if (!createProfile()) return false;

    HRESULT hr = MAPILogonEx(0, profileName_, profilePassword_, MAPI_EXTENDED | MAPI_EXPLICIT_PROFILE | MAPI_NEW_SESSION,
                             &session_);
    MAPIFreeBuffer(profilePassword_);
    profilePassword_ = nullptr;
    if (FAILED(hr) || !session_) return false;

    LPENTRYID storeId = nullptr;
    ULONG storeIdSize = 0;
    if (!findDefaultStore(&storeId, &storeIdSize)) return false;
    hr = session_->OpenMsgStore(0, storeIdSize, storeId, nullptr, MDB_WRITE | MAPI_BEST_ACCESS, &store_);
    MAPIFreeBuffer(storeId);
    if (FAILED(hr) || !store_) return false;

    ULONG count = 0;
    LPSPropValue values = nullptr;
    hr = HrValidateIPMSubtree(store_, MAPI_FORCE_CREATE | MAPI_FULL_IPM_TREE, &count, &values, nullptr);
    if (FAILED(hr) || count == 0 || !values) {
      MAPIFreeBuffer(values);
      return false;
    }
    std::uint32_t mask = 0;
    bool haveMask = false;
    for (ULONG i = 0; i < count; ++i) {
      const SPropValue& v = values[i];
      if (isFolderKey(v.ulPropTag)) {
        ULONG type = 0;
        LPUNKNOWN unknown = nullptr;
        if (SUCCEEDED(store_->OpenEntry(v.Value.bin.cb, reinterpret_cast<LPENTRYID>(v.Value.bin.lpb),
                                        &IID_IMAPIFolder, MAPI_MODIFY | MAPI_DEFERRED_ERRORS | MAPI_BEST_ACCESS,
                                        &type, &unknown)) &&
            unknown) {
          auto& slot = folders_[v.ulPropTag];
          if (slot) slot->Release();
          slot = static_cast<LPMAPIFOLDER>(unknown);
        }
      } else if (v.ulPropTag == kValidFolderMaskTag) {
        mask = v.Value.ul;
        haveMask = true;
      }
    }
    // Without a mask every folder that opened is kept.
    if (haveMask) {
      for (const auto& [key, bit] : kMaskBits) {
        auto it = folders_.find(key);
        if ((mask & bit) == 0 && it != folders_.end()) {
          it->second->Release();
          folders_.erase(it);
        }
      }
    }
    MAPIFreeBuffer(values);
    inboxName_.clear();
    if (auto* inbox = folder(kFolderInbox)) inboxName_ = mapiStringProp(inbox, 0x3001);
    openedPath_ = path;
    return folders_.count(kFolderIpmSubtree) != 0;
  }

  void close() override {
    for (auto& [tag, f] : folders_) f->Release();
    folders_.clear();
    inboxName_.clear();
    openedPath_.clear();
    if (store_) {
      ULONG flags = LOGOFF_NO_WAIT;
      store_->StoreLogoff(&flags);
      store_->Release();
      store_ = nullptr;
    }
    if (session_) {
      session_->Logoff(0, 0, 0);
      session_->Release();
      session_ = nullptr;
    }
    if (profileName_) {
      releaseHelper();
      helperProfileName = nullptr;
      MAPIFreeBuffer(profileName_);
      profileName_ = nullptr;
    }
    MAPIFreeBuffer(profilePassword_);
    profilePassword_ = nullptr;
  }

  void shutdown() override {
    close();
    if (initialized_) {
      MAPIUninitialize();
      initialized_ = false;
    }
  }

  IMsgStore* store() const override { return store_; }
  IMAPIFolder* folder(std::uint32_t tag) const override {
    auto it = folders_.find(tag);
    return it == folders_.end() ? nullptr : it->second;
  }
  std::string inboxName() const override { return inboxName_; }
  std::string openedPath() const override { return openedPath_; }

  IMAPIFolder* openGroupFolder() override {
    IMAPIFolder* top = folder(kFolderIpmSubtree);
    if (!top) return nullptr;
    char name[40];
    std::snprintf(name, sizeof name, "Recovered_Group%lu", groupCounter++);
    LPMAPIFOLDER group = nullptr;
    if (FAILED(top->CreateFolder(FOLDER_GENERIC, name, nullptr, nullptr, OPEN_IF_EXISTS | MAPI_DEFERRED_ERRORS,
                                 &group)) ||
        !group)
      return nullptr;
    group->SaveChanges(KEEP_OPEN_READWRITE | MAPI_DEFERRED_ERRORS);
    return group;
  }

  bool deleteFolder(IMAPIFolder* target, IMAPIFolder* parent) override {
    if (!target || !parent) return false;
    SizedSPropTagArray<1> tags{1, {PR_ENTRYID}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    bool ok = false;
    if (SUCCEEDED(target->GetProps(tags.get(), 0, &count, &values)) && values && count == 1 &&
        values[0].ulPropTag == PR_ENTRYID)
      ok = SUCCEEDED(parent->DeleteFolder(values[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(values[0].Value.bin.lpb),
                                          0, nullptr, 0));
    MAPIFreeBuffer(values);
    return ok;
  }

 private:
  bool createProfile() {
    if (helper.admin) return false;  // one profile at a time
    if (FAILED(MAPIAdminProfiles(0, &helper.admin)) || !helper.admin) {
      helper.admin = nullptr;
      return false;
    }
    void* pw = nullptr;
    void* name = nullptr;
    if (MAPIAllocateBuffer(1, &pw) != S_OK || MAPIAllocateBuffer(14, &name) != S_OK) {
      MAPIFreeBuffer(pw);
      MAPIFreeBuffer(name);
      releaseHelper();
      return false;
    }
    profilePassword_ = static_cast<char*>(pw);
    profilePassword_[0] = 0;
    profileName_ = static_cast<char*>(name);
    helperProfileName = profileName_;

    bool ok = false;
    for (unsigned i = 0; i < 1000; ++i) {
      // "PstLoadTmp%03.3u": the precision alone gives the three digits.
      std::snprintf(profileName_, 14, "PstLoadTmp%.3u", i);
      const HRESULT hr = helper.admin->CreateProfile(profileName_, profilePassword_, 0, 0);
      if (hr == E_ACCESSDENIED) continue;  // the name is taken
      if (SUCCEEDED(hr)) {
        helper.profileCreated = true;
        ok = true;
      }
      break;
    }
    LPMAPITABLE table = nullptr;
    LPSRowSet rows = nullptr;
    LPSPropValue props = nullptr;
    if (ok) ok = SUCCEEDED(helper.admin->AdminServices(profileName_, profilePassword_, 0, 0, &helper.serviceAdmin)) &&
                 helper.serviceAdmin;
    if (ok) {
      char service[16];
      std::snprintf(service, sizeof service, "%s", unicode_ ? "MSUPST MS" : "MSPST MS");
      char empty[1] = {0};
      ok = SUCCEEDED(helper.serviceAdmin->CreateMsgService(service, empty, 0, 0));
    }
    if (ok) ok = SUCCEEDED(helper.serviceAdmin->GetMsgServiceTable(0, &table)) && table;
    if (ok) ok = SUCCEEDED(table->QueryRows(1, 0, &rows)) && rows;
    if (ok) {
      ok = false;
      if (rows->cRows > 0) {
        const SRow& row = rows->aRow[0];
        for (ULONG i = 0; i < row.cValues; ++i) {
          if (row.lpProps[i].ulPropTag == PR_SERVICE_UID && row.lpProps[i].Value.bin.cb == 16) {
            std::memcpy(helper.serviceUid.ab, row.lpProps[i].Value.bin.lpb, 16);
            ok = true;
          }
        }
      }
    }
    if (ok) {
      const ULONG count = unicode_ ? 2 : 6;
      void* p = nullptr;
      ok = MAPIAllocateBuffer(static_cast<ULONG>(count * sizeof(SPropValue)), &p) == S_OK;
      props = static_cast<LPSPropValue>(p);
      if (ok) {
        std::memset(props, 0, count * sizeof(SPropValue));
        ok = setString(props[0], PR_DISPLAY_NAME, displayName_, props) && setString(props[1], PR_PST_PATH, path_, props);
        if (ok && !unicode_) {
          props[2].ulPropTag = PR_PST_REMEMBER_PW;
          props[2].Value.b = 1;
          props[3].ulPropTag = PR_PST_ENCRYPTION;
          props[3].Value.ul = encryption_;
          ok = setString(props[4], PR_PST_PW_SZ_NEW, password_, props) &&
               setString(props[5], PR_PST_PW_SZ_OLD, profilePassword_, props);
        }
      }
      if (ok) ok = SUCCEEDED(helper.serviceAdmin->ConfigureMsgService(&helper.serviceUid, 0, 0, count, props));
    }
    FreeProws(rows);
    if (table) table->Release();
    MAPIFreeBuffer(props);
    if (!ok) {
      releaseHelper();
      helperProfileName = nullptr;
      MAPIFreeBuffer(profileName_);
      profileName_ = nullptr;
      MAPIFreeBuffer(profilePassword_);
      profilePassword_ = nullptr;
    }
    return ok;
  }

  static bool setString(SPropValue& v, ULONG tag, const std::string& s, void* parent) {
    void* p = nullptr;
    if (MAPIAllocateMore(static_cast<ULONG>(s.size() + 1), parent, &p) != S_OK) return false;
    std::memcpy(p, s.c_str(), s.size() + 1);
    v.ulPropTag = tag;
    v.Value.lpszA = static_cast<char*>(p);
    return true;
  }

  bool findDefaultStore(LPENTRYID* id, ULONG* size) {
    LPMAPITABLE table = nullptr;
    if (FAILED(session_->GetMsgStoresTable(0, &table)) || !table) return false;
    ULONG rowCount = 0;
    LPSRowSet rows = nullptr;
    SizedSPropTagArray<2> columns{2, {PR_DEFAULT_STORE, PR_ENTRYID}};
    bool found = false;
    if (SUCCEEDED(table->GetRowCount(0, &rowCount)) && SUCCEEDED(table->SetColumns(columns.get(), 0)) &&
        SUCCEEDED(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr)) &&
        SUCCEEDED(table->QueryRows(static_cast<LONG>(rowCount), 0, &rows)) && rows) {
      for (ULONG r = 0; r < rows->cRows && !found; ++r) {
        const SRow& row = rows->aRow[r];
        if (row.cValues < 2 || row.lpProps[0].ulPropTag != PR_DEFAULT_STORE || !row.lpProps[0].Value.b ||
            row.lpProps[1].ulPropTag != PR_ENTRYID)
          continue;
        void* p = nullptr;
        const SBinary& bin = row.lpProps[1].Value.bin;
        if (MAPIAllocateBuffer(bin.cb ? bin.cb : 1, &p) != S_OK) break;
        std::memcpy(p, bin.lpb, bin.cb);
        *id = static_cast<LPENTRYID>(p);
        *size = bin.cb;
        found = true;
      }
    }
    FreeProws(rows);
    table->Release();
    return found;
  }

  bool initialized_ = false;
  std::string path_, displayName_, password_;
  std::uint32_t encryption_ = kPstNoEncryption;
  bool unicode_ = false;
  char* profileName_ = nullptr;
  char* profilePassword_ = nullptr;
  LPMAPISESSION session_ = nullptr;
  LPMDB store_ = nullptr;
  std::map<std::uint32_t, LPMAPIFOLDER> folders_;
  std::string inboxName_, openedPath_;
};

}  // namespace

std::unique_ptr<TargetStore> makeMapiTargetStore() { return std::make_unique<MapiTargetStore>(); }

int probeOutlookVersion() { return 9; }

std::string currentTargetProfileName() { return helperProfileName ? helperProfileName : ""; }

void resetGroupFolderCounterForTesting() { groupCounter = 1; }

std::string mapiStringProp(IMAPIProp* object, std::uint16_t propId) {
  if (!object) return {};
  std::string out;
  for (ULONG type : {PT_STRING8, PT_UNICODE}) {
    const ULONG tag = PROP_TAG(type, propId);
    SizedSPropTagArray<1> tags{1, {tag}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    const HRESULT hr = object->GetProps(tags.get(), type == PT_UNICODE ? MAPI_UNICODE : 0, &count, &values);
    const bool got = SUCCEEDED(hr) && values && count == 1 && values[0].ulPropTag == tag;
    if (got) out = type == PT_STRING8 ? std::string(values[0].Value.lpszA ? values[0].Value.lpszA : "")
                                      : mapi::store::utf16ToUtf8(values[0].Value.lpszW ? values[0].Value.lpszW : u"");
    MAPIFreeBuffer(values);
    if (got) break;
  }
  return out;
}

}  // namespace vexl
