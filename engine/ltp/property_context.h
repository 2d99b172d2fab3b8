// Property contexts ([MS-PST] 2.3.3) and property values as MAPI records.
//
// A decoded property is an SPropValue; a property array, or a single record,
// is one MAPIAllocateBuffer block, and every string, binary, GUID and
// multi-value array hangs off it through MAPIAllocateMore, so that one
// MAPIFreeBuffer releases everything. The caller owns what it is given.
//
// A value that cannot be decoded is still delivered, in its place, as its
// PT_ERROR twin with MAPI_E_BAD_VALUE; a BTH record of a heap that is not a
// PC is delivered as PT_ERROR (tag 0x0000000A) with MAPI_E_NO_SUPPORT, and a
// PC record of the wrong size with MAPI_E_CORRUPT_DATA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/ltp/bth.h"
#include "mapi/mapidefs.h"

namespace vexl {

// A property array holds at most this many records; a BTH that claims more
// (only a hostile one can: a PC has 16-bit keys) is cut there.
inline constexpr std::uint32_t kMaxPropertyRecords = 1u << 20;

// The tag with its type replaced by PT_ERROR.
constexpr mapi::ULONG errorTwin(mapi::ULONG tag) { return (tag & 0xFFFF0000u) | 0x000Au; }

// The variable-size types: strings, binaries and every multi-valued type.
// Their values are never inline; a PC or TC cell holds an HNID.
bool isVariableSizeType(mapi::ULONG type);

// Decodes one stored value into `out`, whose ulPropTag is already set (its
// type decides, with MV_INSTANCE cleared). `bytes` is a PC's dwValueHnid
// (`inTable` false, length 4) or a table cell (`inTable` true). Strings,
// binaries, GUIDs and arrays are allocated with MAPIAllocateMore on
// `parent`. 1, or 0 with `out.Value` unspecified.
int decodeValue(const NdbNode& node, bool inTable, const unsigned char* bytes, std::size_t length, void* parent,
                mapi::SPropValue& out);

// Every record of the node's BTH, in visit order: 1 with `count` records in
// `props` (null when `count` is 0), 0 when the array cannot be allocated
// or the walk fails. Any heap's records are delivered, as error values when
// they are not a PC's.
int getAllProps(const NdbNode& node, std::uint32_t& count, mapi::SPropValue*& props);

// The property stored with exactly `tag` (type included), decoded: 1 and a
// record owned by the caller, else 0 and null. PR_NULL is never found.
int getProp(const NdbNode& node, std::uint32_t tag, mapi::SPropValue*& value);

// The text of property `propId` of a PC node in the system ANSI code page:
// the PT_STRING8 value, else the PT_UNICODE value converted; empty when the
// heap is not a PC or neither is present.
std::string getStringProp(const NdbNode& node, std::uint16_t propId);
// getStringProp of PR_DISPLAY_NAME (0x3001).
std::string getDisplayName(const NdbNode& node);

}  // namespace vexl
