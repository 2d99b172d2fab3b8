// MAPI's utility functions: releasing objects, freeing row sets and address
// lists, and creating a store's standard IPM folders.
#pragma once

#include "mapi/mapidefs.h"
#include "mapi/mapiinterfaces.h"

namespace vexl::mapi {

// Calls Release on lpUnknown (an IUnknown) and returns its result; a null
// pointer gives 0 and nothing else happens.
ULONG UlRelease(LPVOID lpUnknown);

// Frees a row set from IMAPITable::QueryRows: every row's lpProps with
// MAPIFreeBuffer, then the set itself. Null is allowed.
void FreeProws(LPSRowSet lpRows);

// Frees an address list: every entry's rgPropVals with MAPIFreeBuffer, then
// the list itself. Null is allowed.
void FreePadrlist(LPADRLIST lpAdrlist);

// HrValidateIPMSubtree flags.
inline constexpr ULONG MAPI_FORCE_CREATE = 0x00000001;
inline constexpr ULONG MAPI_FULL_IPM_TREE = 0x00000002;

// PR_VALID_FOLDER_MASK bits.
inline constexpr ULONG FOLDER_IPM_SUBTREE_VALID = 0x00000001;
inline constexpr ULONG FOLDER_IPM_INBOX_VALID = 0x00000002;
inline constexpr ULONG FOLDER_IPM_OUTBOX_VALID = 0x00000004;
inline constexpr ULONG FOLDER_IPM_WASTEBASKET_VALID = 0x00000008;
inline constexpr ULONG FOLDER_IPM_SENTMAIL_VALID = 0x00000010;
inline constexpr ULONG FOLDER_VIEWS_VALID = 0x00000020;
inline constexpr ULONG FOLDER_COMMON_VIEWS_VALID = 0x00000040;
inline constexpr ULONG FOLDER_FINDER_VALID = 0x00000080;

// Creates (MAPI_FORCE_CREATE or MAPI_FULL_IPM_TREE) the standard IPM
// folders of lpMDB (Inbox, Outbox, Sent Items, Views beside the IPM
// subtree, Deleted Items, Common Views and the finder) and returns
// PR_VALID_FOLDER_MASK first, then their entry identifiers (the Inbox's
// under the tag PROP_TAG(PT_BINARY, 0)), as one MAPI buffer in *lppValues.
// A second call finds the same folders. MAPI_E_NO_SUPPORT for a store of
// another provider, MAPI_E_NO_ACCESS for a store opened without MDB_WRITE.
HRESULT HrValidateIPMSubtree(LPMDB lpMDB, ULONG ulFlags, ULONG* lpcValues, LPSPropValue* lppValues,
                             LPMAPIERROR* lpperr);

}  // namespace vexl::mapi
