// MAPI result codes (SCODE / HRESULT) with their published values, and the
// helpers that test them. MAPI tests results by their sign: negative is a
// failure, zero or positive a success (warnings such as
// MAPI_W_ERRORS_RETURNED are successes).
#pragma once

#include <cstdint>

namespace vexl::mapi {

using SCODE = std::int32_t;
using HRESULT = std::int32_t;

// Severity, facility and the MAPI code builders (winerror.h / mapicode.h).
inline constexpr std::uint32_t SEVERITY_SUCCESS = 0;
inline constexpr std::uint32_t SEVERITY_ERROR = 1;
inline constexpr std::uint32_t FACILITY_NULL = 0;
inline constexpr std::uint32_t FACILITY_STORAGE = 3;
inline constexpr std::uint32_t FACILITY_ITF = 4;
inline constexpr std::uint32_t FACILITY_WIN32 = 7;

constexpr SCODE MAKE_SCODE(std::uint32_t sev, std::uint32_t fac, std::uint32_t code) {
  return static_cast<SCODE>((sev << 31) | (fac << 16) | (code & 0xFFFFu));
}
constexpr SCODE MAKE_MAPI_E(std::uint32_t err) { return MAKE_SCODE(SEVERITY_ERROR, FACILITY_ITF, err); }
constexpr SCODE MAKE_MAPI_S(std::uint32_t warn) { return MAKE_SCODE(SEVERITY_SUCCESS, FACILITY_ITF, warn); }

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr bool HR_SUCCEEDED(HRESULT hr) { return SUCCEEDED(hr); }
constexpr bool HR_FAILED(HRESULT hr) { return FAILED(hr); }
constexpr SCODE GetScode(HRESULT hr) { return hr; }
constexpr HRESULT ResultFromScode(SCODE sc) { return sc; }

// Generic COM results.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);

// MAPI errors that reuse the generic COM codes.
inline constexpr HRESULT MAPI_E_CALL_FAILED = E_FAIL;
inline constexpr HRESULT MAPI_E_NOT_ENOUGH_MEMORY = E_OUTOFMEMORY;
inline constexpr HRESULT MAPI_E_INVALID_PARAMETER = E_INVALIDARG;
inline constexpr HRESULT MAPI_E_INTERFACE_NOT_SUPPORTED = E_NOINTERFACE;
inline constexpr HRESULT MAPI_E_NO_ACCESS = E_ACCESSDENIED;

// General errors (MAPI code range 0x0100).
inline constexpr HRESULT MAPI_E_NO_SUPPORT = MAKE_MAPI_E(0x102);
inline constexpr HRESULT MAPI_E_BAD_CHARWIDTH = MAKE_MAPI_E(0x103);
inline constexpr HRESULT MAPI_E_STRING_TOO_LONG = MAKE_MAPI_E(0x105);
inline constexpr HRESULT MAPI_E_UNKNOWN_FLAGS = MAKE_MAPI_E(0x106);
inline constexpr HRESULT MAPI_E_INVALID_ENTRYID = MAKE_MAPI_E(0x107);
inline constexpr HRESULT MAPI_E_INVALID_OBJECT = MAKE_MAPI_E(0x108);
inline constexpr HRESULT MAPI_E_OBJECT_CHANGED = MAKE_MAPI_E(0x109);
inline constexpr HRESULT MAPI_E_OBJECT_DELETED = MAKE_MAPI_E(0x10A);
inline constexpr HRESULT MAPI_E_BUSY = MAKE_MAPI_E(0x10B);
inline constexpr HRESULT MAPI_E_NOT_ENOUGH_DISK = MAKE_MAPI_E(0x10D);
inline constexpr HRESULT MAPI_E_NOT_ENOUGH_RESOURCES = MAKE_MAPI_E(0x10E);
inline constexpr HRESULT MAPI_E_NOT_FOUND = MAKE_MAPI_E(0x10F);
inline constexpr HRESULT MAPI_E_VERSION = MAKE_MAPI_E(0x110);
inline constexpr HRESULT MAPI_E_LOGON_FAILED = MAKE_MAPI_E(0x111);
inline constexpr HRESULT MAPI_E_SESSION_LIMIT = MAKE_MAPI_E(0x112);
inline constexpr HRESULT MAPI_E_USER_CANCEL = MAKE_MAPI_E(0x113);
inline constexpr HRESULT MAPI_E_UNABLE_TO_ABORT = MAKE_MAPI_E(0x114);
inline constexpr HRESULT MAPI_E_NETWORK_ERROR = MAKE_MAPI_E(0x115);
inline constexpr HRESULT MAPI_E_DISK_ERROR = MAKE_MAPI_E(0x116);
inline constexpr HRESULT MAPI_E_TOO_COMPLEX = MAKE_MAPI_E(0x117);
inline constexpr HRESULT MAPI_E_BAD_COLUMN = MAKE_MAPI_E(0x118);
inline constexpr HRESULT MAPI_E_EXTENDED_ERROR = MAKE_MAPI_E(0x119);
inline constexpr HRESULT MAPI_E_COMPUTED = MAKE_MAPI_E(0x11A);
inline constexpr HRESULT MAPI_E_CORRUPT_DATA = MAKE_MAPI_E(0x11B);
inline constexpr HRESULT MAPI_E_UNCONFIGURED = MAKE_MAPI_E(0x11C);
inline constexpr HRESULT MAPI_E_FAILONEPROVIDER = MAKE_MAPI_E(0x11D);
inline constexpr HRESULT MAPI_E_UNKNOWN_CPID = MAKE_MAPI_E(0x11E);
inline constexpr HRESULT MAPI_E_UNKNOWN_LCID = MAKE_MAPI_E(0x11F);

// Session, table and property errors.
inline constexpr HRESULT MAPI_E_END_OF_SESSION = MAKE_MAPI_E(0x200);
inline constexpr HRESULT MAPI_E_UNKNOWN_ENTRYID = MAKE_MAPI_E(0x201);
inline constexpr HRESULT MAPI_E_MISSING_REQUIRED_COLUMN = MAKE_MAPI_E(0x202);
inline constexpr HRESULT MAPI_W_NO_SERVICE = MAKE_MAPI_S(0x203);
inline constexpr HRESULT MAPI_E_BAD_VALUE = MAKE_MAPI_E(0x301);
inline constexpr HRESULT MAPI_E_INVALID_TYPE = MAKE_MAPI_E(0x302);
inline constexpr HRESULT MAPI_E_TYPE_NO_SUPPORT = MAKE_MAPI_E(0x303);
inline constexpr HRESULT MAPI_E_UNEXPECTED_TYPE = MAKE_MAPI_E(0x304);
inline constexpr HRESULT MAPI_E_TOO_BIG = MAKE_MAPI_E(0x305);
inline constexpr HRESULT MAPI_E_DECLINE_COPY = MAKE_MAPI_E(0x306);
inline constexpr HRESULT MAPI_E_UNEXPECTED_ID = MAKE_MAPI_E(0x307);
inline constexpr HRESULT MAPI_W_ERRORS_RETURNED = MAKE_MAPI_S(0x380);
inline constexpr HRESULT MAPI_E_UNABLE_TO_COMPLETE = MAKE_MAPI_E(0x400);
inline constexpr HRESULT MAPI_E_TIMEOUT = MAKE_MAPI_E(0x401);
inline constexpr HRESULT MAPI_E_TABLE_EMPTY = MAKE_MAPI_E(0x402);
inline constexpr HRESULT MAPI_E_TABLE_TOO_BIG = MAKE_MAPI_E(0x403);
inline constexpr HRESULT MAPI_E_INVALID_BOOKMARK = MAKE_MAPI_E(0x405);
inline constexpr HRESULT MAPI_W_POSITION_CHANGED = MAKE_MAPI_S(0x481);
inline constexpr HRESULT MAPI_W_APPROX_COUNT = MAKE_MAPI_S(0x482);

// Transport and store errors.
inline constexpr HRESULT MAPI_E_WAIT = MAKE_MAPI_E(0x500);
inline constexpr HRESULT MAPI_E_CANCEL = MAKE_MAPI_E(0x501);
inline constexpr HRESULT MAPI_E_NOT_ME = MAKE_MAPI_E(0x502);
inline constexpr HRESULT MAPI_W_CANCEL_MESSAGE = MAKE_MAPI_S(0x580);
inline constexpr HRESULT MAPI_E_CORRUPT_STORE = MAKE_MAPI_E(0x600);
inline constexpr HRESULT MAPI_E_NOT_IN_QUEUE = MAKE_MAPI_E(0x601);
inline constexpr HRESULT MAPI_E_NO_SUPPRESS = MAKE_MAPI_E(0x602);
inline constexpr HRESULT MAPI_E_COLLISION = MAKE_MAPI_E(0x604);
inline constexpr HRESULT MAPI_E_NOT_INITIALIZED = MAKE_MAPI_E(0x605);
inline constexpr HRESULT MAPI_E_NON_STANDARD = MAKE_MAPI_E(0x606);
inline constexpr HRESULT MAPI_E_NO_RECIPIENTS = MAKE_MAPI_E(0x607);
inline constexpr HRESULT MAPI_E_SUBMITTED = MAKE_MAPI_E(0x608);
inline constexpr HRESULT MAPI_E_HAS_FOLDERS = MAKE_MAPI_E(0x609);
inline constexpr HRESULT MAPI_E_HAS_MESSAGES = MAKE_MAPI_E(0x60A);
inline constexpr HRESULT MAPI_E_FOLDER_CYCLE = MAKE_MAPI_E(0x60B);
inline constexpr HRESULT MAPI_W_PARTIAL_COMPLETION = MAKE_MAPI_S(0x680);
inline constexpr HRESULT MAPI_E_AMBIGUOUS_RECIP = MAKE_MAPI_E(0x700);

// OLE structured storage results that MAPI callers meet (facility STORAGE).
inline constexpr HRESULT STG_E_FILENOTFOUND = static_cast<HRESULT>(0x80030002);
inline constexpr HRESULT STG_E_ACCESSDENIED = static_cast<HRESULT>(0x80030005);
inline constexpr HRESULT STG_E_INSUFFICIENTMEMORY = static_cast<HRESULT>(0x80030008);
inline constexpr HRESULT STG_E_INVALIDPARAMETER = static_cast<HRESULT>(0x80030057);
inline constexpr HRESULT STG_E_FILEALREADYEXISTS = static_cast<HRESULT>(0x80030050);
inline constexpr HRESULT STG_E_INVALIDHEADER = static_cast<HRESULT>(0x800300FB);
inline constexpr HRESULT STG_E_DOCFILECORRUPT = static_cast<HRESULT>(0x80030109);

static_assert(MAPI_E_NO_SUPPORT == static_cast<HRESULT>(0x80040102));
static_assert(MAPI_E_CORRUPT_DATA == static_cast<HRESULT>(0x8004011B));
static_assert(MAPI_E_BAD_VALUE == static_cast<HRESULT>(0x80040301));
static_assert(MAPI_E_NOT_INITIALIZED == static_cast<HRESULT>(0x80040605));
static_assert(MAPI_W_ERRORS_RETURNED == 0x00040380);

}  // namespace vexl::mapi
