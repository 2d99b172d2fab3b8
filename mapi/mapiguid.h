// Interface identifiers and property-set GUIDs with their published values.
// MAPI's own IIDs are OLE-style GUIDs {l-0000-0000-C000-000000000046}.
#pragma once

#include "mapi/mapidefs.h"

namespace vexl::mapi {

constexpr GUID DEFINE_OLEGUID(ULONG l) { return GUID{l, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;

// COM and OLE structured storage.
inline constexpr IID IID_IUnknown = DEFINE_OLEGUID(0x00000000);
inline constexpr IID IID_IStorage = DEFINE_OLEGUID(0x0000000B);
inline constexpr IID IID_IStream = DEFINE_OLEGUID(0x0000000C);
inline constexpr IID IID_ISequentialStream{0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};

// MAPI.
inline constexpr IID IID_IMAPISession = DEFINE_OLEGUID(0x00020300);
inline constexpr IID IID_IMAPITable = DEFINE_OLEGUID(0x00020301);
inline constexpr IID IID_IMAPIAdviseSink = DEFINE_OLEGUID(0x00020302);
inline constexpr IID IID_IMAPIProp = DEFINE_OLEGUID(0x00020303);
inline constexpr IID IID_IProfSect = DEFINE_OLEGUID(0x00020304);
inline constexpr IID IID_IMAPIStatus = DEFINE_OLEGUID(0x00020305);
inline constexpr IID IID_IMsgStore = DEFINE_OLEGUID(0x00020306);
inline constexpr IID IID_IMessage = DEFINE_OLEGUID(0x00020307);
inline constexpr IID IID_IAttachment = DEFINE_OLEGUID(0x00020308);
inline constexpr IID IID_IAddrBook = DEFINE_OLEGUID(0x00020309);
inline constexpr IID IID_IMailUser = DEFINE_OLEGUID(0x0002030A);
inline constexpr IID IID_IMAPIContainer = DEFINE_OLEGUID(0x0002030B);
inline constexpr IID IID_IMAPIFolder = DEFINE_OLEGUID(0x0002030C);
inline constexpr IID IID_IABContainer = DEFINE_OLEGUID(0x0002030D);
inline constexpr IID IID_IDistList = DEFINE_OLEGUID(0x0002030E);
inline constexpr IID IID_IMAPITableData = DEFINE_OLEGUID(0x00020316);
inline constexpr IID IID_IMAPIPropData = DEFINE_OLEGUID(0x0002031A);
inline constexpr IID IID_IProfAdmin = DEFINE_OLEGUID(0x0002031C);
inline constexpr IID IID_IMsgServiceAdmin = DEFINE_OLEGUID(0x0002031D);
inline constexpr IID IID_IMAPIProgress = DEFINE_OLEGUID(0x0002031F);
inline constexpr IID IID_IProviderAdmin = DEFINE_OLEGUID(0x00020325);

// Property sets of named properties.
inline constexpr GUID PS_MAPI = DEFINE_OLEGUID(0x00020328);
inline constexpr GUID PS_PUBLIC_STRINGS = DEFINE_OLEGUID(0x00020329);

static_assert(IID_IMessage.Data1 == 0x00020307 && IID_IMessage.Data4[0] == 0xC0 && IID_IMessage.Data4[7] == 0x46);

}  // namespace vexl::mapi
