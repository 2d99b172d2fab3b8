#include "mapi/mapix.h"

#include <atomic>

namespace vexl::mapi {
namespace {
std::atomic<int> initCount{0};

HRESULT notBuiltYet() { return initCount.load() > 0 ? MAPI_E_NO_SUPPORT : MAPI_E_NOT_INITIALIZED; }
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

HRESULT MAPILogonEx(ULONG_PTR /*ulUIParam*/, LPTSTR /*lpszProfileName*/, LPTSTR /*lpszPassword*/,
                    FLAGS /*flFlags*/, LPMAPISESSION* lppSession) {
  if (lppSession == nullptr) return MAPI_E_INVALID_PARAMETER;
  *lppSession = nullptr;
  return notBuiltYet();
}

HRESULT MAPIAdminProfiles(ULONG /*ulFlags*/, LPPROFADMIN* lppProfAdmin) {
  if (lppProfAdmin == nullptr) return MAPI_E_INVALID_PARAMETER;
  *lppProfAdmin = nullptr;
  return notBuiltYet();
}

}  // namespace vexl::mapi
