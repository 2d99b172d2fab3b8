#include "mapi/mapiutil.h"

#include "mapi/mapialloc.h"

namespace vexl::mapi {

ULONG UlRelease(LPVOID lpUnknown) {
  if (lpUnknown == nullptr) return 0;
  return static_cast<IUnknown*>(lpUnknown)->Release();
}

void FreeProws(LPSRowSet lpRows) {
  if (lpRows == nullptr) return;
  for (ULONG i = 0; i < lpRows->cRows; ++i) MAPIFreeBuffer(lpRows->aRow[i].lpProps);
  MAPIFreeBuffer(lpRows);
}

void FreePadrlist(LPADRLIST lpAdrlist) {
  if (lpAdrlist == nullptr) return;
  for (ULONG i = 0; i < lpAdrlist->cEntries; ++i) MAPIFreeBuffer(lpAdrlist->aEntries[i].rgPropVals);
  MAPIFreeBuffer(lpAdrlist);
}

// HrValidateIPMSubtree is in store/impl_msgstore.cpp, beside the store it asks.

}  // namespace vexl::mapi
