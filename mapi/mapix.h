// MAPI's session-level entry points.
#pragma once

#include "mapi/mapidefs.h"

namespace vexl::mapi {

// Initialises the MAPI subsystem for this process; S_OK when it is ready.
// Calls nest: each successful call needs one MAPIUninitialize.
HRESULT MAPIInitialize(void* lpMapiInit);
void MAPIUninitialize();

}  // namespace vexl::mapi
