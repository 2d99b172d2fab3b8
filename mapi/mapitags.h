// MAPI property types, the tag helpers, and the property tags this system
// reads and writes, with their published values.
//
// A property tag is the property identifier in the high 16 bits and the
// property type in the low 16. String properties come as a pair: the _A tag
// (PT_STRING8) and the _W tag (PT_UNICODE); the bare name is the PT_TSTRING
// form, which in this subset is PT_STRING8 (see mapidefs.h).
#pragma once

#include "mapi/mapidefs.h"

namespace vexl::mapi {

// ---------------------------------------------------------- property types

inline constexpr ULONG PT_UNSPECIFIED = 0x0000;
inline constexpr ULONG PT_NULL = 0x0001;
inline constexpr ULONG PT_I2 = 0x0002;
inline constexpr ULONG PT_LONG = 0x0003;
inline constexpr ULONG PT_R4 = 0x0004;
inline constexpr ULONG PT_DOUBLE = 0x0005;
inline constexpr ULONG PT_CURRENCY = 0x0006;
inline constexpr ULONG PT_APPTIME = 0x0007;
inline constexpr ULONG PT_ERROR = 0x000A;
inline constexpr ULONG PT_BOOLEAN = 0x000B;
inline constexpr ULONG PT_OBJECT = 0x000D;
inline constexpr ULONG PT_I8 = 0x0014;
inline constexpr ULONG PT_STRING8 = 0x001E;
inline constexpr ULONG PT_UNICODE = 0x001F;
inline constexpr ULONG PT_SYSTIME = 0x0040;
inline constexpr ULONG PT_CLSID = 0x0048;
inline constexpr ULONG PT_SVREID = 0x00FB;
inline constexpr ULONG PT_SRESTRICT = 0x00FD;
inline constexpr ULONG PT_ACTIONS = 0x00FE;
inline constexpr ULONG PT_BINARY = 0x0102;

// Alternate names.
inline constexpr ULONG PT_SHORT = PT_I2;
inline constexpr ULONG PT_I4 = PT_LONG;
inline constexpr ULONG PT_FLOAT = PT_R4;
inline constexpr ULONG PT_R8 = PT_DOUBLE;
inline constexpr ULONG PT_LONGLONG = PT_I8;
inline constexpr ULONG PT_TSTRING = PT_STRING8;

// Multi-valued types: the single type with MV_FLAG. MV_INSTANCE (in a
// table's column tags) asks for one row per value.
inline constexpr ULONG MV_FLAG = 0x1000;
inline constexpr ULONG MV_INSTANCE = 0x2000;
inline constexpr ULONG MVI_FLAG = MV_FLAG | MV_INSTANCE;

inline constexpr ULONG PT_MV_I2 = MV_FLAG | PT_I2;
inline constexpr ULONG PT_MV_LONG = MV_FLAG | PT_LONG;
inline constexpr ULONG PT_MV_R4 = MV_FLAG | PT_R4;
inline constexpr ULONG PT_MV_DOUBLE = MV_FLAG | PT_DOUBLE;
inline constexpr ULONG PT_MV_CURRENCY = MV_FLAG | PT_CURRENCY;
inline constexpr ULONG PT_MV_APPTIME = MV_FLAG | PT_APPTIME;
inline constexpr ULONG PT_MV_I8 = MV_FLAG | PT_I8;
inline constexpr ULONG PT_MV_STRING8 = MV_FLAG | PT_STRING8;
inline constexpr ULONG PT_MV_UNICODE = MV_FLAG | PT_UNICODE;
inline constexpr ULONG PT_MV_SYSTIME = MV_FLAG | PT_SYSTIME;
inline constexpr ULONG PT_MV_CLSID = MV_FLAG | PT_CLSID;
inline constexpr ULONG PT_MV_BINARY = MV_FLAG | PT_BINARY;
inline constexpr ULONG PT_MV_SHORT = PT_MV_I2;
inline constexpr ULONG PT_MV_I4 = PT_MV_LONG;
inline constexpr ULONG PT_MV_FLOAT = PT_MV_R4;
inline constexpr ULONG PT_MV_R8 = PT_MV_DOUBLE;
inline constexpr ULONG PT_MV_LONGLONG = PT_MV_I8;
inline constexpr ULONG PT_MV_TSTRING = PT_MV_STRING8;

// ------------------------------------------------------------ tag helpers

inline constexpr ULONG PROP_TYPE_MASK = 0x0000FFFF;
inline constexpr ULONG PROP_ID_NULL = 0;
inline constexpr ULONG PROP_ID_INVALID = 0xFFFF;
inline constexpr ULONG PROP_ID_SECURE_MIN = 0x67F0;
inline constexpr ULONG PROP_ID_SECURE_MAX = 0x67FF;
inline constexpr ULONG MAPI_NAMED_PROP_MIN = 0x8000;  // ids from here up are named properties

constexpr ULONG PROP_TYPE(ULONG ulPropTag) { return ulPropTag & PROP_TYPE_MASK; }
constexpr ULONG PROP_ID(ULONG ulPropTag) { return ulPropTag >> 16; }
constexpr ULONG PROP_TAG(ULONG ulPropType, ULONG ulPropID) { return (ulPropID << 16) | (ulPropType & PROP_TYPE_MASK); }
constexpr ULONG CHANGE_PROP_TYPE(ULONG ulPropTag, ULONG ulPropType) {
  return (ulPropTag & 0xFFFF0000u) | (ulPropType & PROP_TYPE_MASK);
}
constexpr ULONG MVI_PROP(ULONG ulPropTag) { return ulPropTag | MVI_FLAG; }
constexpr ULONG UNMVI_PROP(ULONG ulPropTag) { return ulPropTag & ~MVI_FLAG; }

inline constexpr ULONG PR_NULL = PROP_TAG(PT_NULL, PROP_ID_NULL);

// ------------------------------------------------------------ common tags

inline constexpr ULONG PR_ENTRYID = PROP_TAG(PT_BINARY, 0x0FFF);
inline constexpr ULONG PR_OBJECT_TYPE = PROP_TAG(PT_LONG, 0x0FFE);
inline constexpr ULONG PR_STORE_ENTRYID = PROP_TAG(PT_BINARY, 0x0FFB);
inline constexpr ULONG PR_STORE_RECORD_KEY = PROP_TAG(PT_BINARY, 0x0FFA);
inline constexpr ULONG PR_RECORD_KEY = PROP_TAG(PT_BINARY, 0x0FF9);
inline constexpr ULONG PR_MAPPING_SIGNATURE = PROP_TAG(PT_BINARY, 0x0FF8);
inline constexpr ULONG PR_ACCESS_LEVEL = PROP_TAG(PT_LONG, 0x0FF7);
inline constexpr ULONG PR_INSTANCE_KEY = PROP_TAG(PT_BINARY, 0x0FF6);
inline constexpr ULONG PR_ROW_TYPE = PROP_TAG(PT_LONG, 0x0FF5);
inline constexpr ULONG PR_ACCESS = PROP_TAG(PT_LONG, 0x0FF4);

inline constexpr ULONG PR_ROWID = PROP_TAG(PT_LONG, 0x3000);
inline constexpr ULONG PR_DISPLAY_NAME_A = PROP_TAG(PT_STRING8, 0x3001);
inline constexpr ULONG PR_DISPLAY_NAME_W = PROP_TAG(PT_UNICODE, 0x3001);
inline constexpr ULONG PR_DISPLAY_NAME = PR_DISPLAY_NAME_A;
inline constexpr ULONG PR_ADDRTYPE_A = PROP_TAG(PT_STRING8, 0x3002);
inline constexpr ULONG PR_ADDRTYPE_W = PROP_TAG(PT_UNICODE, 0x3002);
inline constexpr ULONG PR_ADDRTYPE = PR_ADDRTYPE_A;
inline constexpr ULONG PR_EMAIL_ADDRESS_A = PROP_TAG(PT_STRING8, 0x3003);
inline constexpr ULONG PR_EMAIL_ADDRESS_W = PROP_TAG(PT_UNICODE, 0x3003);
inline constexpr ULONG PR_EMAIL_ADDRESS = PR_EMAIL_ADDRESS_A;
inline constexpr ULONG PR_COMMENT_A = PROP_TAG(PT_STRING8, 0x3004);
inline constexpr ULONG PR_COMMENT_W = PROP_TAG(PT_UNICODE, 0x3004);
inline constexpr ULONG PR_COMMENT = PR_COMMENT_A;
inline constexpr ULONG PR_DEPTH = PROP_TAG(PT_LONG, 0x3005);
inline constexpr ULONG PR_PROVIDER_DISPLAY_A = PROP_TAG(PT_STRING8, 0x3006);
inline constexpr ULONG PR_PROVIDER_DISPLAY_W = PROP_TAG(PT_UNICODE, 0x3006);
inline constexpr ULONG PR_PROVIDER_DISPLAY = PR_PROVIDER_DISPLAY_A;
inline constexpr ULONG PR_CREATION_TIME = PROP_TAG(PT_SYSTIME, 0x3007);
inline constexpr ULONG PR_LAST_MODIFICATION_TIME = PROP_TAG(PT_SYSTIME, 0x3008);
inline constexpr ULONG PR_RESOURCE_FLAGS = PROP_TAG(PT_LONG, 0x3009);
inline constexpr ULONG PR_PROVIDER_DLL_NAME_A = PROP_TAG(PT_STRING8, 0x300A);
inline constexpr ULONG PR_PROVIDER_DLL_NAME_W = PROP_TAG(PT_UNICODE, 0x300A);
inline constexpr ULONG PR_PROVIDER_DLL_NAME = PR_PROVIDER_DLL_NAME_A;
inline constexpr ULONG PR_SEARCH_KEY = PROP_TAG(PT_BINARY, 0x300B);
inline constexpr ULONG PR_PROVIDER_UID = PROP_TAG(PT_BINARY, 0x300C);

// ----------------------------------------------------------- message tags

inline constexpr ULONG PR_IMPORTANCE = PROP_TAG(PT_LONG, 0x0017);
inline constexpr ULONG PR_MESSAGE_CLASS_A = PROP_TAG(PT_STRING8, 0x001A);
inline constexpr ULONG PR_MESSAGE_CLASS_W = PROP_TAG(PT_UNICODE, 0x001A);
inline constexpr ULONG PR_MESSAGE_CLASS = PR_MESSAGE_CLASS_A;
inline constexpr ULONG PR_PRIORITY = PROP_TAG(PT_LONG, 0x0026);
inline constexpr ULONG PR_SENSITIVITY = PROP_TAG(PT_LONG, 0x0036);
inline constexpr ULONG PR_SUBJECT_A = PROP_TAG(PT_STRING8, 0x0037);
inline constexpr ULONG PR_SUBJECT_W = PROP_TAG(PT_UNICODE, 0x0037);
inline constexpr ULONG PR_SUBJECT = PR_SUBJECT_A;
inline constexpr ULONG PR_CLIENT_SUBMIT_TIME = PROP_TAG(PT_SYSTIME, 0x0039);
inline constexpr ULONG PR_SUBJECT_PREFIX_A = PROP_TAG(PT_STRING8, 0x003D);
inline constexpr ULONG PR_SUBJECT_PREFIX_W = PROP_TAG(PT_UNICODE, 0x003D);
inline constexpr ULONG PR_SUBJECT_PREFIX = PR_SUBJECT_PREFIX_A;
inline constexpr ULONG PR_SENT_REPRESENTING_NAME_A = PROP_TAG(PT_STRING8, 0x0042);
inline constexpr ULONG PR_SENT_REPRESENTING_NAME_W = PROP_TAG(PT_UNICODE, 0x0042);
inline constexpr ULONG PR_SENT_REPRESENTING_NAME = PR_SENT_REPRESENTING_NAME_A;
inline constexpr ULONG PR_SENDER_NAME_A = PROP_TAG(PT_STRING8, 0x0C1A);
inline constexpr ULONG PR_SENDER_NAME_W = PROP_TAG(PT_UNICODE, 0x0C1A);
inline constexpr ULONG PR_SENDER_NAME = PR_SENDER_NAME_A;
inline constexpr ULONG PR_RECIPIENT_TYPE = PROP_TAG(PT_LONG, 0x0C15);
inline constexpr ULONG PR_DISPLAY_BCC_A = PROP_TAG(PT_STRING8, 0x0E02);
inline constexpr ULONG PR_DISPLAY_BCC_W = PROP_TAG(PT_UNICODE, 0x0E02);
inline constexpr ULONG PR_DISPLAY_CC_A = PROP_TAG(PT_STRING8, 0x0E03);
inline constexpr ULONG PR_DISPLAY_CC_W = PROP_TAG(PT_UNICODE, 0x0E03);
inline constexpr ULONG PR_DISPLAY_TO_A = PROP_TAG(PT_STRING8, 0x0E04);
inline constexpr ULONG PR_DISPLAY_TO_W = PROP_TAG(PT_UNICODE, 0x0E04);
inline constexpr ULONG PR_MESSAGE_DELIVERY_TIME = PROP_TAG(PT_SYSTIME, 0x0E06);
inline constexpr ULONG PR_MESSAGE_FLAGS = PROP_TAG(PT_LONG, 0x0E07);
inline constexpr ULONG PR_MESSAGE_SIZE = PROP_TAG(PT_LONG, 0x0E08);
inline constexpr ULONG PR_PARENT_ENTRYID = PROP_TAG(PT_BINARY, 0x0E09);
inline constexpr ULONG PR_HASATTACH = PROP_TAG(PT_BOOLEAN, 0x0E1B);
inline constexpr ULONG PR_NORMALIZED_SUBJECT_A = PROP_TAG(PT_STRING8, 0x0E1D);
inline constexpr ULONG PR_NORMALIZED_SUBJECT_W = PROP_TAG(PT_UNICODE, 0x0E1D);
inline constexpr ULONG PR_NORMALIZED_SUBJECT = PR_NORMALIZED_SUBJECT_A;
inline constexpr ULONG PR_RTF_IN_SYNC = PROP_TAG(PT_BOOLEAN, 0x0E1F);
inline constexpr ULONG PR_ATTACH_SIZE = PROP_TAG(PT_LONG, 0x0E20);
inline constexpr ULONG PR_ATTACH_NUM = PROP_TAG(PT_LONG, 0x0E21);
inline constexpr ULONG PR_BODY_A = PROP_TAG(PT_STRING8, 0x1000);
inline constexpr ULONG PR_BODY_W = PROP_TAG(PT_UNICODE, 0x1000);
inline constexpr ULONG PR_BODY = PR_BODY_A;
inline constexpr ULONG PR_RTF_COMPRESSED = PROP_TAG(PT_BINARY, 0x1009);
inline constexpr ULONG PR_HTML = PROP_TAG(PT_BINARY, 0x1013);

// -------------------------------------------------------- attachment tags

inline constexpr ULONG PR_ATTACHMENT_X400_PARAMETERS = PROP_TAG(PT_BINARY, 0x3700);
inline constexpr ULONG PR_ATTACH_DATA_OBJ = PROP_TAG(PT_OBJECT, 0x3701);
inline constexpr ULONG PR_ATTACH_DATA_BIN = PROP_TAG(PT_BINARY, 0x3701);
inline constexpr ULONG PR_ATTACH_ENCODING = PROP_TAG(PT_BINARY, 0x3702);
inline constexpr ULONG PR_ATTACH_EXTENSION_A = PROP_TAG(PT_STRING8, 0x3703);
inline constexpr ULONG PR_ATTACH_EXTENSION_W = PROP_TAG(PT_UNICODE, 0x3703);
inline constexpr ULONG PR_ATTACH_EXTENSION = PR_ATTACH_EXTENSION_A;
inline constexpr ULONG PR_ATTACH_FILENAME_A = PROP_TAG(PT_STRING8, 0x3704);
inline constexpr ULONG PR_ATTACH_FILENAME_W = PROP_TAG(PT_UNICODE, 0x3704);
inline constexpr ULONG PR_ATTACH_FILENAME = PR_ATTACH_FILENAME_A;
inline constexpr ULONG PR_ATTACH_METHOD = PROP_TAG(PT_LONG, 0x3705);
inline constexpr ULONG PR_ATTACH_LONG_FILENAME_A = PROP_TAG(PT_STRING8, 0x3707);
inline constexpr ULONG PR_ATTACH_LONG_FILENAME_W = PROP_TAG(PT_UNICODE, 0x3707);
inline constexpr ULONG PR_ATTACH_LONG_FILENAME = PR_ATTACH_LONG_FILENAME_A;
inline constexpr ULONG PR_ATTACH_PATHNAME_A = PROP_TAG(PT_STRING8, 0x3708);
inline constexpr ULONG PR_ATTACH_PATHNAME_W = PROP_TAG(PT_UNICODE, 0x3708);
inline constexpr ULONG PR_ATTACH_PATHNAME = PR_ATTACH_PATHNAME_A;
inline constexpr ULONG PR_ATTACH_RENDERING = PROP_TAG(PT_BINARY, 0x3709);
inline constexpr ULONG PR_ATTACH_TAG = PROP_TAG(PT_BINARY, 0x370A);
inline constexpr ULONG PR_RENDERING_POSITION = PROP_TAG(PT_LONG, 0x370B);
inline constexpr ULONG PR_ATTACH_TRANSPORT_NAME_A = PROP_TAG(PT_STRING8, 0x370C);
inline constexpr ULONG PR_ATTACH_TRANSPORT_NAME_W = PROP_TAG(PT_UNICODE, 0x370C);
inline constexpr ULONG PR_ATTACH_LONG_PATHNAME_A = PROP_TAG(PT_STRING8, 0x370D);
inline constexpr ULONG PR_ATTACH_LONG_PATHNAME_W = PROP_TAG(PT_UNICODE, 0x370D);
inline constexpr ULONG PR_ATTACH_MIME_TAG_A = PROP_TAG(PT_STRING8, 0x370E);
inline constexpr ULONG PR_ATTACH_MIME_TAG_W = PROP_TAG(PT_UNICODE, 0x370E);
inline constexpr ULONG PR_ATTACH_MIME_TAG = PR_ATTACH_MIME_TAG_A;
inline constexpr ULONG PR_ATTACH_ADDITIONAL_INFO = PROP_TAG(PT_BINARY, 0x370F);

// ------------------------------------------------------------- store tags

inline constexpr ULONG PR_DEFAULT_STORE = PROP_TAG(PT_BOOLEAN, 0x3400);
inline constexpr ULONG PR_STORE_SUPPORT_MASK = PROP_TAG(PT_LONG, 0x340D);
inline constexpr ULONG PR_STORE_STATE = PROP_TAG(PT_LONG, 0x340E);
inline constexpr ULONG PR_IPM_SUBTREE_SEARCH_KEY = PROP_TAG(PT_BINARY, 0x3410);
inline constexpr ULONG PR_IPM_OUTBOX_SEARCH_KEY = PROP_TAG(PT_BINARY, 0x3411);
inline constexpr ULONG PR_IPM_WASTEBASKET_SEARCH_KEY = PROP_TAG(PT_BINARY, 0x3412);
inline constexpr ULONG PR_IPM_SENTMAIL_SEARCH_KEY = PROP_TAG(PT_BINARY, 0x3413);
inline constexpr ULONG PR_MDB_PROVIDER = PROP_TAG(PT_BINARY, 0x3414);
inline constexpr ULONG PR_RECEIVE_FOLDER_SETTINGS = PROP_TAG(PT_OBJECT, 0x3415);
inline constexpr ULONG PR_VALID_FOLDER_MASK = PROP_TAG(PT_LONG, 0x35DF);
inline constexpr ULONG PR_IPM_SUBTREE_ENTRYID = PROP_TAG(PT_BINARY, 0x35E0);
inline constexpr ULONG PR_IPM_OUTBOX_ENTRYID = PROP_TAG(PT_BINARY, 0x35E2);
inline constexpr ULONG PR_IPM_WASTEBASKET_ENTRYID = PROP_TAG(PT_BINARY, 0x35E3);
inline constexpr ULONG PR_IPM_SENTMAIL_ENTRYID = PROP_TAG(PT_BINARY, 0x35E4);
inline constexpr ULONG PR_VIEWS_ENTRYID = PROP_TAG(PT_BINARY, 0x35E5);
inline constexpr ULONG PR_COMMON_VIEWS_ENTRYID = PROP_TAG(PT_BINARY, 0x35E6);
inline constexpr ULONG PR_FINDER_ENTRYID = PROP_TAG(PT_BINARY, 0x35E7);

// ------------------------------------------------------------ folder tags

inline constexpr ULONG PR_FOLDER_TYPE = PROP_TAG(PT_LONG, 0x3601);
inline constexpr ULONG PR_CONTENT_COUNT = PROP_TAG(PT_LONG, 0x3602);
inline constexpr ULONG PR_CONTENT_UNREAD = PROP_TAG(PT_LONG, 0x3603);
inline constexpr ULONG PR_SUBFOLDERS = PROP_TAG(PT_BOOLEAN, 0x360A);
inline constexpr ULONG PR_CONTAINER_CLASS_A = PROP_TAG(PT_STRING8, 0x3613);
inline constexpr ULONG PR_CONTAINER_CLASS_W = PROP_TAG(PT_UNICODE, 0x3613);
inline constexpr ULONG PR_CONTAINER_CLASS = PR_CONTAINER_CLASS_A;
inline constexpr ULONG PR_ASSOC_CONTENT_COUNT = PROP_TAG(PT_LONG, 0x3617);

// ------------------------------------------------- profile and service tags

inline constexpr ULONG PR_SERVICE_NAME_A = PROP_TAG(PT_STRING8, 0x3D09);
inline constexpr ULONG PR_SERVICE_NAME_W = PROP_TAG(PT_UNICODE, 0x3D09);
inline constexpr ULONG PR_SERVICE_NAME = PR_SERVICE_NAME_A;
inline constexpr ULONG PR_SERVICE_DLL_NAME_A = PROP_TAG(PT_STRING8, 0x3D0A);
inline constexpr ULONG PR_SERVICE_DLL_NAME_W = PROP_TAG(PT_UNICODE, 0x3D0A);
inline constexpr ULONG PR_SERVICE_DLL_NAME = PR_SERVICE_DLL_NAME_A;
inline constexpr ULONG PR_SERVICE_ENTRY_NAME = PROP_TAG(PT_STRING8, 0x3D0B);
inline constexpr ULONG PR_SERVICE_UID = PROP_TAG(PT_BINARY, 0x3D0C);
inline constexpr ULONG PR_SERVICE_EXTRA_UIDS = PROP_TAG(PT_BINARY, 0x3D0D);
inline constexpr ULONG PR_SERVICES = PROP_TAG(PT_BINARY, 0x3D0E);
inline constexpr ULONG PR_PROFILE_NAME_A = PROP_TAG(PT_STRING8, 0x3D12);
inline constexpr ULONG PR_PROFILE_NAME_W = PROP_TAG(PT_UNICODE, 0x3D12);
inline constexpr ULONG PR_PROFILE_NAME = PR_PROFILE_NAME_A;
inline constexpr ULONG PR_RESOURCE_TYPE = PROP_TAG(PT_LONG, 0x3E03);

// PR_RESOURCE_FLAGS bits of a store in the message stores table.
inline constexpr ULONG STATUS_DEFAULT_OUTBOUND = 0x00000001;
inline constexpr ULONG STATUS_DEFAULT_STORE = 0x00000002;
inline constexpr ULONG STATUS_PRIMARY_IDENTITY = 0x00000004;
inline constexpr ULONG STATUS_SIMPLE_STORE = 0x00000008;
inline constexpr ULONG STATUS_XP_PREFER_LAST = 0x00000010;
inline constexpr ULONG STATUS_NO_PRIMARY_IDENTITY = 0x00000020;
inline constexpr ULONG STATUS_NO_DEFAULT_STORE = 0x00000040;
inline constexpr ULONG STATUS_TEMP_SECTION = 0x00000080;
inline constexpr ULONG STATUS_OWN_STORE = 0x00000100;
inline constexpr ULONG STATUS_NEED_IPM_TREE = 0x00000800;
inline constexpr ULONG STATUS_PRIMARY_STORE = 0x00001000;
inline constexpr ULONG STATUS_SECONDARY_STORE = 0x00002000;

// ------------------------------------- PST message service configuration

// Properties given to IMsgServiceAdmin::ConfigureMsgService for the PST
// services "MSPST MS" (ANSI file) and "MSUPST MS" (Unicode file).
inline constexpr ULONG PR_PST_PATH_A = PROP_TAG(PT_STRING8, 0x6700);
inline constexpr ULONG PR_PST_PATH_W = PROP_TAG(PT_UNICODE, 0x6700);
inline constexpr ULONG PR_PST_PATH = PR_PST_PATH_A;
inline constexpr ULONG PR_PST_REMEMBER_PW = PROP_TAG(PT_BOOLEAN, 0x6701);
inline constexpr ULONG PR_PST_ENCRYPTION = PROP_TAG(PT_LONG, 0x6702);
inline constexpr ULONG PR_PST_PW_SZ_OLD_A = PROP_TAG(PT_STRING8, 0x6703);
inline constexpr ULONG PR_PST_PW_SZ_OLD_W = PROP_TAG(PT_UNICODE, 0x6703);
inline constexpr ULONG PR_PST_PW_SZ_OLD = PR_PST_PW_SZ_OLD_A;
inline constexpr ULONG PR_PST_PW_SZ_NEW_A = PROP_TAG(PT_STRING8, 0x6704);
inline constexpr ULONG PR_PST_PW_SZ_NEW_W = PROP_TAG(PT_UNICODE, 0x6704);
inline constexpr ULONG PR_PST_PW_SZ_NEW = PR_PST_PW_SZ_NEW_A;

// PR_PST_ENCRYPTION values.
inline constexpr ULONG PSTF_NO_ENCRYPTION = 0x80000000;
inline constexpr ULONG PSTF_COMPRESSABLE_ENCRYPTION = 0x40000000;
inline constexpr ULONG PSTF_BEST_ENCRYPTION = 0x20000000;

static_assert(PR_ENTRYID == 0x0FFF0102);
static_assert(PR_DISPLAY_NAME == 0x3001001E && PR_DISPLAY_NAME_W == 0x3001001F);
static_assert(PR_ATTACH_DATA_OBJ == 0x3701000D && PR_ATTACH_METHOD == 0x37050003);
static_assert(PR_VALID_FOLDER_MASK == 0x35DF0003 && PR_SERVICE_UID == 0x3D0C0102);
static_assert(PR_PST_ENCRYPTION == 0x67020003 && PR_RTF_IN_SYNC == 0x0E1F000B);
static_assert(PT_MV_BINARY == 0x1102 && PT_MV_CLSID == 0x1048 && PT_MV_I8 == 0x1014);

}  // namespace vexl::mapi
