#include "mapi/mapix.h"

#include <atomic>

namespace vexl::mapi {
namespace {
std::atomic<int> initCount{0};
}  // namespace

HRESULT MAPIInitialize(void* /*lpMapiInit*/) {
  ++initCount;
  return S_OK;
}

void MAPIUninitialize() {
  if (initCount > 0) --initCount;
}

}  // namespace vexl::mapi
