// Profiles, message services and sessions, kept in the process: a profile
// lives from CreateProfile to DeleteProfile; ConfigureMsgService of a PST
// service creates its file; MAPILogonEx opens a session over the profile.
#pragma once

#include "mapi/mapiinterfaces.h"

namespace vexl::mapi::store {

HRESULT adminProfiles(LPPROFADMIN* out);
HRESULT logon(LPTSTR profileName, FLAGS flags, LPMAPISESSION* out);

}  // namespace vexl::mapi::store
