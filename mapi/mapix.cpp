#include "mapi/mapix.h"

#include <atomic>

#include "mapi/store/profiles.h"

namespace vexl::mapi {
namespace {
std::atomic<int> initCount{0};

bool initialized() { return initCount.load() > 0; }
}  // namespace

HRESULT MAPIInitialize(LPVOID /*lpMapiInit*/) {
  ++initCount;
  return S_OK;
}

void MAPIUninitialize() {
  int count = initCount.load();
  while (count > 0 && !initCount.compare_exchange_weak(count, count - 1)) {
  }
}

HRESULT MAPILogonEx(ULONG_PTR /*ulUIParam*/, LPTSTR lpszProfileName, LPTSTR /*lpszPassword*/,
                    FLAGS flFlags, LPMAPISESSION* lppSession) {
  if (lppSession == nullptr) return MAPI_E_INVALID_PARAMETER;
  *lppSession = nullptr;
  if (!initialized()) return MAPI_E_NOT_INITIALIZED;
  // Only explicit profiles exist here: no default profile, no logon dialog.
  if (lpszProfileName == nullptr) return MAPI_E_LOGON_FAILED;
  return store::logon(lpszProfileName, flFlags, lppSession);
}

HRESULT MAPIAdminProfiles(ULONG /*ulFlags*/, LPPROFADMIN* lppProfAdmin) {
  if (lppProfAdmin == nullptr) return MAPI_E_INVALID_PARAMETER;
  *lppProfAdmin = nullptr;
  if (!initialized()) return MAPI_E_NOT_INITIALIZED;
  return store::adminProfiles(lppProfAdmin);
}

}  // namespace vexl::mapi
