// MAPI's session-level entry points: start-up and shut-down, logon, and
// profile administration.
#pragma once

#include "mapi/mapidefs.h"
#include "mapi/mapiinterfaces.h"

namespace vexl::mapi {

// Initialises the MAPI subsystem for this process; S_OK when it is ready.
// lpMapiInit is null or points to a MAPIINIT_0. Calls nest: each successful
// call needs one MAPIUninitialize.
HRESULT MAPIInitialize(LPVOID lpMapiInit);
void MAPIUninitialize();

// MAPILogonEx flags.
inline constexpr FLAGS MAPI_LOGON_UI = 0x00000001;
inline constexpr FLAGS MAPI_NEW_SESSION = 0x00000002;
inline constexpr FLAGS MAPI_ALLOW_OTHERS = 0x00000008;
inline constexpr FLAGS MAPI_EXPLICIT_PROFILE = 0x00000010;
inline constexpr FLAGS MAPI_EXTENDED = 0x00000020;
inline constexpr FLAGS MAPI_USE_DEFAULT = 0x00000040;
inline constexpr FLAGS MAPI_FORCE_DOWNLOAD = 0x00001000;
inline constexpr FLAGS MAPI_SERVICE_UI_ALWAYS = 0x00002000;
inline constexpr FLAGS MAPI_NO_MAIL = 0x00008000;
inline constexpr FLAGS MAPI_PASSWORD_UI = 0x00020000;
inline constexpr FLAGS MAPI_TIMEOUT_SHORT = 0x00100000;
inline constexpr FLAGS MAPI_BG_SESSION = 0x00200000;

// Logs on to the profile lpszProfileName (UTF-16 with MAPI_UNICODE) and
// returns a new session over its message stores. Profiles live in this
// process only (see store/profiles.h). MAPI_E_NOT_INITIALIZED before
// MAPIInitialize; MAPI_E_LOGON_FAILED for a null or unknown profile (there
// is no default profile and no logon dialog).
HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPTSTR lpszProfileName, LPTSTR lpszPassword, FLAGS flFlags,
                    LPMAPISESSION* lppSession);

// Returns the profile administration object; MAPI_E_NOT_INITIALIZED before
// MAPIInitialize.
HRESULT MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin);

}  // namespace vexl::mapi
