// Property values between MAPI's SPropValue and the bytes the PST writer
// stores ([MS-PST] 2.3.3), and the string conversions between them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mapi/mapidefs.h"
#include "mapi/pst/minimal_store.h"

namespace vexl::mapi::store {

using pst::PropMap;

// UTF-8 <-> UTF-16. Invalid UTF-8 bytes are taken as Latin-1 characters,
// which is how 8-bit text of the western ANSI code page reads.
std::u16string utf8ToUtf16(const std::string& s);
std::string utf16ToUtf8(const std::u16string& s);
std::u16string wideFromLe(const std::vector<std::uint8_t>& bytes);

// The stored form of `value` for a store whose string type is
// `stringType` (PT_UNICODE or PT_STRING8): strings of the other width are
// converted, so the tag's type may change. Nothing for types a property
// context cannot hold (PT_ERROR, PT_NULL, PT_OBJECT, PT_UNSPECIFIED...).
std::optional<std::pair<ULONG, std::vector<std::uint8_t>>> toStored(const SPropValue& value, ULONG stringType);

// Fills `out` from a stored value; variable parts are MAPIAllocateMore'd on
// `parent`. With `wantType` of the other string width, the text is
// converted. False (and `out` left as PT_ERROR MAPI_E_NOT_FOUND) when the
// type is not one this layer reads back.
bool fromStored(ULONG tag, const std::vector<std::uint8_t>& bytes, ULONG wantType, void* parent, SPropValue& out);

// One value asked for: the tag wanted (its type decides the string width),
// and the stored tag and bytes, null when absent (a PT_ERROR value).
struct WantedProp {
  ULONG want;
  ULONG stored;
  const std::vector<std::uint8_t>* bytes;
};
// A MAPI buffer holding `props` (one root, linked parts);
// MAPI_W_ERRORS_RETURNED when any is absent.
HRESULT allocPropArray(const std::vector<WantedProp>& props, ULONG* count, LPSPropValue* out);

// The value of `tag`'s property id in `props`, whatever its type.
PropMap::const_iterator findById(const PropMap& props, ULONG tag);

}  // namespace vexl::mapi::store
