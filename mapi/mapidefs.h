// MAPI's base types and records, with MAPI's published names, members and
// layouts for this platform's pointer size (LP64 Linux, laid out as MAPI's
// x64 headers lay them out), and the general flags of MAPI's calls.
//
// Platform notes:
// - MAPI's ULONG and LONG are 32 bits wide (Windows' LLP64 model); here they
//   are fixed-width 32-bit types, never C++ `long`.
// - MAPI's Unicode strings are UTF-16. wchar_t is 32 bits on Linux, so WCHAR
//   is char16_t and LPWSTR is char16_t*; PT_UNICODE values, MAPINAMEID names
//   and OLE names are arrays of char16_t terminated by a 16-bit zero.
// - This subset is MAPI's non-UNICODE build: TCHAR, LPTSTR and PT_TSTRING
//   are the 8-bit forms. A call given MAPI_UNICODE takes UTF-16 strings
//   behind its LPTSTR arguments; the caller casts, as MAPI callers do.
// - Variable-length records end in an array of MAPI_DIM (1) elements and are
//   allocated with the CbNew* sizes below, MAPI's own convention.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapi/mapicode.h"

namespace vexl::mapi {

// ---------------------------------------------------------------- scalars

using BYTE = std::uint8_t;
using CHAR = char;
using WCHAR = char16_t;
using TCHAR = char;
using OLECHAR = WCHAR;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using WORD = std::uint16_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using BOOL = std::int32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using FLAGS = ULONG;

using LPVOID = void*;
using LPBYTE = BYTE*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPTSTR = LPSTR;
using LPOLESTR = OLECHAR*;
using LPULONG = ULONG*;
using LPLONG = LONG*;
using LPBOOL = BOOL*;

inline constexpr ULONG MAPI_DIM = 1;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using LPFILETIME = FILETIME*;

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};
using LPLARGE_INTEGER = LARGE_INTEGER*;

union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
};

// CURRENCY (OLE's CY): a 64-bit integer scaled by 10,000. The halves are
// reached through `s`, the member name MAPI's headers use when nameless
// unions are off (ISO C++ has no anonymous structs).
union CURRENCY {
  struct {
    ULONG Lo;
    LONG Hi;
  } s;
  LONGLONG int64;
};
using CY = CURRENCY;

struct GUID {
  ULONG Data1;
  USHORT Data2;
  USHORT Data3;
  BYTE Data4[8];

  friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
using LPGUID = GUID*;
using IID = GUID;
using CLSID = GUID;
using LPIID = IID*;
using LPCIID = const IID*;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }
constexpr bool IsEqualIID(const IID& a, const IID& b) { return a == b; }

// ------------------------------------------------------------- identifiers

// A MAPI entry identifier: four flag bytes, then provider-defined bytes.
struct ENTRYID {
  BYTE abFlags[4];
  BYTE ab[MAPI_DIM];
};
using LPENTRYID = ENTRYID*;

constexpr std::size_t CbNewENTRYID(std::size_t cb) { return offsetof(ENTRYID, ab) + cb; }

// Entry identifier flags (abFlags[0]).
inline constexpr BYTE MAPI_SHORTTERM = 0x80;
inline constexpr BYTE MAPI_NOTRECIP = 0x40;
inline constexpr BYTE MAPI_THISSESSION = 0x20;
inline constexpr BYTE MAPI_NOW = 0x10;
inline constexpr BYTE MAPI_NOTRESERVED = 0x08;

// A 16-byte unique identifier (service and provider UIDs).
struct MAPIUID {
  BYTE ab[16];
};
using LPMAPIUID = MAPIUID*;

// ------------------------------------------------------- property values

struct SBinary {
  ULONG cb;
  LPBYTE lpb;
};
using LPSBinary = SBinary*;

struct SShortArray {
  ULONG cValues;
  SHORT* lpi;
};
struct SLongArray {
  ULONG cValues;
  LONG* lpl;
};
struct SRealArray {
  ULONG cValues;
  float* lpflt;
};
struct SDoubleArray {
  ULONG cValues;
  double* lpdbl;
};
struct SCurrencyArray {
  ULONG cValues;
  CURRENCY* lpcur;
};
struct SAppTimeArray {
  ULONG cValues;
  double* lpat;
};
struct SDateTimeArray {
  ULONG cValues;
  FILETIME* lpft;
};
struct SBinaryArray {
  ULONG cValues;
  SBinary* lpbin;
};
struct SLPSTRArray {
  ULONG cValues;
  LPSTR* lppszA;
};
struct SWStringArray {
  ULONG cValues;
  LPWSTR* lppszW;
};
struct SGuidArray {
  ULONG cValues;
  GUID* lpguid;
};
struct SLargeIntegerArray {
  ULONG cValues;
  LARGE_INTEGER* lpli;
};

// A list of entry identifiers, as MAPI's calls take them.
using ENTRYLIST = SBinaryArray;
using LPENTRYLIST = ENTRYLIST*;

// The value union of SPropValue (MAPI's `union _PV`, typedef __UPV). The
// member in use is chosen by the property type of the tag.
union UPV {
  SHORT i;                   // PT_I2
  LONG l;                    // PT_LONG
  ULONG ul;                  // PT_LONG, unsigned view
  float flt;                 // PT_R4
  double dbl;                // PT_DOUBLE
  USHORT b;                  // PT_BOOLEAN
  CURRENCY cur;              // PT_CURRENCY
  double at;                 // PT_APPTIME
  FILETIME ft;               // PT_SYSTIME
  LPSTR lpszA;               // PT_STRING8
  SBinary bin;               // PT_BINARY
  LPWSTR lpszW;              // PT_UNICODE
  LPGUID lpguid;             // PT_CLSID
  LARGE_INTEGER li;          // PT_I8
  SShortArray MVi;           // PT_MV_I2
  SLongArray MVl;            // PT_MV_LONG
  SRealArray MVflt;          // PT_MV_R4
  SDoubleArray MVdbl;        // PT_MV_DOUBLE
  SCurrencyArray MVcur;      // PT_MV_CURRENCY
  SAppTimeArray MVat;        // PT_MV_APPTIME
  SDateTimeArray MVft;       // PT_MV_SYSTIME
  SBinaryArray MVbin;        // PT_MV_BINARY
  SLPSTRArray MVszA;         // PT_MV_STRING8
  SWStringArray MVszW;       // PT_MV_UNICODE
  SGuidArray MVguid;         // PT_MV_CLSID
  SLargeIntegerArray MVli;   // PT_MV_I8
  SCODE err;                 // PT_ERROR
  LONG x;                    // PT_NULL, PT_OBJECT: no usable value
};
using __UPV = UPV;

struct SPropValue {
  ULONG ulPropTag;
  ULONG dwAlignPad;
  UPV Value;
};
using LPSPropValue = SPropValue*;

// ------------------------------------------------------- property arrays

struct SPropTagArray {
  ULONG cValues;
  ULONG aulPropTag[MAPI_DIM];
};
using LPSPropTagArray = SPropTagArray*;

constexpr std::size_t CbNewSPropTagArray(std::size_t cTags) {
  return offsetof(SPropTagArray, aulPropTag) + cTags * sizeof(ULONG);
}
constexpr std::size_t CbSPropTagArray(const SPropTagArray* lpTags) { return CbNewSPropTagArray(lpTags->cValues); }

// MAPI's SizedSPropTagArray(n, name): a tag array of fixed capacity on the
// stack or in static storage, with the same layout as SPropTagArray. Pass
// it as `tags.get()` where an LPSPropTagArray is wanted.
template <ULONG N>
struct SizedSPropTagArray {
  static_assert(N >= 1);
  ULONG cValues;
  ULONG aulPropTag[N];

  LPSPropTagArray get() { return reinterpret_cast<LPSPropTagArray>(this); }
};

struct SPropProblem {
  ULONG ulIndex;
  ULONG ulPropTag;
  SCODE scode;
};
using LPSPropProblem = SPropProblem*;

struct SPropProblemArray {
  ULONG cProblem;
  SPropProblem aProblem[MAPI_DIM];
};
using LPSPropProblemArray = SPropProblemArray*;

constexpr std::size_t CbNewSPropProblemArray(std::size_t cProblems) {
  return offsetof(SPropProblemArray, aProblem) + cProblems * sizeof(SPropProblem);
}

// ----------------------------------------------------------- rows, lists

struct SRow {
  ULONG ulAdrEntryPad;
  ULONG cValues;
  LPSPropValue lpProps;
};
using LPSRow = SRow*;

struct SRowSet {
  ULONG cRows;
  SRow aRow[MAPI_DIM];
};
using LPSRowSet = SRowSet*;

constexpr std::size_t CbNewSRowSet(std::size_t cRows) { return offsetof(SRowSet, aRow) + cRows * sizeof(SRow); }

struct ADRENTRY {
  ULONG ulReserved1;
  ULONG cValues;
  LPSPropValue rgPropVals;
};
using LPADRENTRY = ADRENTRY*;

struct ADRLIST {
  ULONG cEntries;
  ADRENTRY aEntries[MAPI_DIM];
};
using LPADRLIST = ADRLIST*;

constexpr std::size_t CbNewADRLIST(std::size_t cEntries) {
  return offsetof(ADRLIST, aEntries) + cEntries * sizeof(ADRENTRY);
}

// ------------------------------------------------------- named properties

inline constexpr ULONG MNID_ID = 0;
inline constexpr ULONG MNID_STRING = 1;

struct MAPINAMEID {
  LPGUID lpguid;
  ULONG ulKind;
  union {
    LONG lID;
    LPWSTR lpwstrName;
  } Kind;
};
using LPMAPINAMEID = MAPINAMEID*;

// ------------------------------------------------------------ errors, init

inline constexpr ULONG MAPI_ERROR_VERSION = 0;

struct MAPIERROR {
  ULONG ulVersion;
  LPTSTR lpszError;
  LPTSTR lpszComponent;
  ULONG ulLowLevelError;
  ULONG ulContext;
};
using LPMAPIERROR = MAPIERROR*;

inline constexpr ULONG MAPI_INIT_VERSION = 0;
inline constexpr ULONG MAPI_MULTITHREAD_NOTIFICATIONS = 0x00000001;
inline constexpr ULONG MAPI_NT_SERVICE = 0x00010000;

struct MAPIINIT_0 {
  ULONG ulVersion;
  ULONG ulFlags;
};
using MAPIINIT = MAPIINIT_0;
using LPMAPIINIT = MAPIINIT*;

// Records that appear in declarations only; this subset never builds them.
struct SRestriction;
using LPSRestriction = SRestriction*;
struct SSortOrderSet;
using LPSSortOrderSet = SSortOrderSet*;
struct NOTIFICATION;
using LPNOTIFICATION = NOTIFICATION*;

// A table position (IMAPITable::SeekRow, FindRow, CreateBookmark).
using BOOKMARK = ULONG_PTR;
inline constexpr BOOKMARK BOOKMARK_BEGINNING = 0;
inline constexpr BOOKMARK BOOKMARK_CURRENT = 1;
inline constexpr BOOKMARK BOOKMARK_END = 2;

// ---------------------------------------------------------- object types

inline constexpr ULONG MAPI_STORE = 0x00000001;
inline constexpr ULONG MAPI_ADDRBOOK = 0x00000002;
inline constexpr ULONG MAPI_FOLDER = 0x00000003;
inline constexpr ULONG MAPI_ABCONT = 0x00000004;
inline constexpr ULONG MAPI_MESSAGE = 0x00000005;
inline constexpr ULONG MAPI_MAILUSER = 0x00000006;
inline constexpr ULONG MAPI_ATTACH = 0x00000007;
inline constexpr ULONG MAPI_DISTLIST = 0x00000008;
inline constexpr ULONG MAPI_PROFSECT = 0x00000009;
inline constexpr ULONG MAPI_STATUS = 0x0000000A;
inline constexpr ULONG MAPI_SESSION = 0x0000000B;
inline constexpr ULONG MAPI_FORMINFO = 0x0000000C;

// ---------------------------------------------------------- general flags

inline constexpr ULONG MAPI_UNICODE = 0x80000000;
inline constexpr ULONG MAPI_MODIFY = 0x00000001;
inline constexpr ULONG MAPI_ACCESS_MODIFY = 0x00000001;
inline constexpr ULONG MAPI_ACCESS_READ = 0x00000002;
inline constexpr ULONG MAPI_ACCESS_DELETE = 0x00000004;
inline constexpr ULONG MAPI_ACCESS_CREATE_HIERARCHY = 0x00000008;
inline constexpr ULONG MAPI_ACCESS_CREATE_CONTENTS = 0x00000010;
inline constexpr ULONG MAPI_ACCESS_CREATE_ASSOCIATED = 0x00000020;
inline constexpr ULONG MAPI_CREATE = 0x00000002;          // OpenProperty, GetIDsFromNames
inline constexpr ULONG MAPI_DEFERRED_ERRORS = 0x00000008;
inline constexpr ULONG MAPI_BEST_ACCESS = 0x00000010;
inline constexpr ULONG MAPI_ASSOCIATED = 0x00000040;      // CreateMessage, GetContentsTable
inline constexpr ULONG MAPI_DIALOG = 0x00000008;
inline constexpr ULONG MAPI_MOVE = 0x00000001;            // CopyTo, CopyProps
inline constexpr ULONG MAPI_NOREPLACE = 0x00000002;
inline constexpr ULONG MAPI_DECLINE_OK = 0x00000004;
inline constexpr ULONG MAPI_NO_STRINGS = 0x00000001;      // GetNamesFromIDs
inline constexpr ULONG MAPI_NO_IDS = 0x00000002;

// IMAPIProp::SaveChanges.
inline constexpr ULONG KEEP_OPEN_READONLY = 0x00000001;
inline constexpr ULONG KEEP_OPEN_READWRITE = 0x00000002;
inline constexpr ULONG FORCE_SAVE = 0x00000004;

// IMAPIFolder::CreateFolder folder types and flags.
inline constexpr ULONG FOLDER_ROOT = 0x00000000;
inline constexpr ULONG FOLDER_GENERIC = 0x00000001;
inline constexpr ULONG FOLDER_SEARCH = 0x00000002;
inline constexpr ULONG OPEN_IF_EXISTS = 0x00000001;

// IMAPIFolder copy, move and delete flags.
inline constexpr ULONG MESSAGE_MOVE = 0x00000001;
inline constexpr ULONG MESSAGE_DIALOG = 0x00000002;
inline constexpr ULONG FOLDER_MOVE = 0x00000001;
inline constexpr ULONG FOLDER_DIALOG = 0x00000002;
inline constexpr ULONG COPY_SUBFOLDERS = 0x00000010;
inline constexpr ULONG DEL_FOLDERS = 0x00000004;
inline constexpr ULONG DEL_MESSAGES = 0x00000008;
inline constexpr ULONG DEL_ASSOCIATED = 0x00000008;       // EmptyFolder

// IMessage::ModifyRecipients.
inline constexpr ULONG MODRECIP_ADD = 0x00000002;
inline constexpr ULONG MODRECIP_MODIFY = 0x00000004;
inline constexpr ULONG MODRECIP_REMOVE = 0x00000008;

// Attachment methods (PR_ATTACH_METHOD).
inline constexpr LONG NO_ATTACHMENT = 0x00000000;
inline constexpr LONG ATTACH_BY_VALUE = 0x00000001;
inline constexpr LONG ATTACH_BY_REFERENCE = 0x00000002;
inline constexpr LONG ATTACH_BY_REF_RESOLVE = 0x00000003;
inline constexpr LONG ATTACH_BY_REF_ONLY = 0x00000004;
inline constexpr LONG ATTACH_EMBEDDED_MSG = 0x00000005;
inline constexpr LONG ATTACH_OLE = 0x00000006;

// Recipient types (PR_RECIPIENT_TYPE).
inline constexpr LONG MAPI_ORIG = 0;
inline constexpr LONG MAPI_TO = 1;
inline constexpr LONG MAPI_CC = 2;
inline constexpr LONG MAPI_BCC = 3;

// IMsgStore::StoreLogoff (in/out flags).
inline constexpr ULONG LOGOFF_NO_WAIT = 0x00000001;
inline constexpr ULONG LOGOFF_ORDERLY = 0x00000002;
inline constexpr ULONG LOGOFF_PURGE = 0x00000004;
inline constexpr ULONG LOGOFF_ABORT = 0x00000008;
inline constexpr ULONG LOGOFF_QUIET = 0x00000010;
inline constexpr ULONG LOGOFF_COMPLETE = 0x00010000;
inline constexpr ULONG LOGOFF_INBOUND = 0x00020000;
inline constexpr ULONG LOGOFF_OUTBOUND = 0x00040000;
inline constexpr ULONG LOGOFF_OUTBOUND_QUEUE = 0x00080000;

// IMAPISession::OpenMsgStore.
inline constexpr ULONG MDB_NO_DIALOG = 0x00000001;
inline constexpr ULONG MDB_WRITE = 0x00000004;
inline constexpr ULONG MDB_TEMPORARY = 0x00000020;
inline constexpr ULONG MDB_NO_MAIL = 0x00000080;

// IMAPITable.
inline constexpr ULONG TBL_ASYNC = 0x00000001;
inline constexpr ULONG TBL_BATCH = 0x00000002;
inline constexpr ULONG TBL_NOWAIT = 0x00000001;
inline constexpr ULONG TBL_NOADVANCE = 0x00000001;        // QueryRows
inline constexpr ULONG TBL_ALL_COLUMNS = 0x00000001;      // QueryColumns
inline constexpr ULONG TBL_STATUS_COMPLETE = 0;

// IMsgServiceAdmin and IProfAdmin.
inline constexpr ULONG SERVICE_UI_ALWAYS = 0x00000002;
inline constexpr ULONG SERVICE_UI_ALLOWED = 0x00000010;
inline constexpr ULONG MAPI_DEFAULT_SERVICES = 0x00000001;

// ------------------------------------------------------------- layout

static_assert(sizeof(void*) == 8, "laid out for a 64-bit platform");
static_assert(sizeof(FILETIME) == 8 && alignof(FILETIME) == 4);
static_assert(sizeof(LARGE_INTEGER) == 8 && sizeof(CURRENCY) == 8);
static_assert(offsetof(CURRENCY, s.Hi) == 4);
static_assert(sizeof(GUID) == 16);
static_assert(sizeof(MAPIUID) == 16);
static_assert(sizeof(SBinary) == 16 && offsetof(SBinary, lpb) == 8);
static_assert(sizeof(SLPSTRArray) == 16 && sizeof(SLargeIntegerArray) == 16);
static_assert(sizeof(UPV) == 16 && alignof(UPV) == 8);
static_assert(sizeof(SPropValue) == 24);
static_assert(offsetof(SPropValue, ulPropTag) == 0);
static_assert(offsetof(SPropValue, dwAlignPad) == 4);
static_assert(offsetof(SPropValue, Value) == 8);
static_assert(sizeof(SPropTagArray) == 8 && offsetof(SPropTagArray, aulPropTag) == 4);
static_assert(sizeof(SPropProblem) == 12 && sizeof(SPropProblemArray) == 16);
static_assert(sizeof(SRow) == 16 && offsetof(SRow, lpProps) == 8);
static_assert(sizeof(SRowSet) == 24 && offsetof(SRowSet, aRow) == 8);
static_assert(sizeof(ADRENTRY) == 16 && offsetof(ADRENTRY, rgPropVals) == 8);
static_assert(sizeof(ADRLIST) == 24 && offsetof(ADRLIST, aEntries) == 8);
static_assert(sizeof(MAPINAMEID) == 24 && offsetof(MAPINAMEID, ulKind) == 8 && offsetof(MAPINAMEID, Kind) == 16);
static_assert(offsetof(ENTRYID, ab) == 4);
static_assert(sizeof(MAPIERROR) == 32 && offsetof(MAPIERROR, ulLowLevelError) == 24);
static_assert(sizeof(WCHAR) == 2);

}  // namespace vexl::mapi
