// The property copy: a decoded property array written onto a MAPI object of
// the target store (store, folder, message, attachment), and the small
// helpers the recovery passes use around it.
//
// On the way each record is filtered by type (PT_ERROR, PT_NULL, unknown
// types are never written), its named-property id (0x8000 and up) is
// rewritten through NamedPropIds, its strings are converted to the width of
// the target file through the system ANSI code page, PR_RTF_IN_SYNC is
// dropped, and PT_OBJECT records are handed to the object copy at once.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/core/engine_context.h"
#include "engine/mapiout/named_prop_ids.h"
#include "engine/ndb/node_map.h"
#include "mapi/mapiinterfaces.h"

namespace vexl {

// The save after every copyProps: KEEP_OPEN_READWRITE | MAPI_DEFERRED_ERRORS.
inline constexpr mapi::ULONG kCopySaveFlags = 0x0A;

// Writes one PT_OBJECT record (its id already mapped) of `node` onto
// `target`; 1 when the object was copied.
using ObjectCopy = std::function<int(NdbNode& node, const mapi::SPropValue& record, mapi::IMAPIProp* target)>;

struct PropCopySettings {
  bool unicode = false;  // the target file is Unicode: strings are written as PT_UNICODE
  bool batch = false;    // one SetProps per object (RecoverMultiPropInBatch)
  const NamedPropIds* namedPropIds = nullptr;  // null: ids are written unchanged
  ObjectCopy copyObject;  // empty: PT_OBJECT records are not written
};

// The settings of the run: pstFormat, RecoverMultiPropInBatch and the map.
PropCopySettings propCopySettings(const EngineContext& engine, const NamedPropIds& ids, ObjectCopy copyObject = {});

// True for the 26 property types the copy writes (MV_INSTANCE ignored).
bool isCopiedPropType(mapi::ULONG type);

// Writes `count` records onto `target` and saves it (kCopySaveFlags), in
// one batch SetProps with a per-record fallback, or record by record.
// Nothing at all (not even the save) without records or a target.
void copyProps(const PropCopySettings& settings, NdbNode& node, std::uint32_t count,
               const mapi::SPropValue* props, mapi::IMAPIProp* target);

// Writes one record without saving: 1 when SetProps succeeded, when the
// record is PR_RTF_IN_SYNC (never written), or the object copy's result for
// PT_OBJECT; 0 without a target, for a type that is not copied, or when a
// conversion could not be allocated.
int copyProp(const PropCopySettings& settings, NdbNode& node, const mapi::SPropValue& prop,
             mapi::IMAPIProp* target);

// Every property of the property-context node `node` onto `message`
// (copyProps); nothing when the node is not a PC or cannot be read.
void copyMessageProps(const PropCopySettings& settings, NdbNode& node, mapi::IMessage* message);

// The MAPI object type a NID's type stands for: MAPI_FOLDER for normal and
// search folders, MAPI_MESSAGE for normal and associated messages,
// MAPI_ATTACH for attachments, else 0.
mapi::ULONG objectTypeOfNid(std::uint32_t nid);

// The bytes of a PT_BINARY value; empty for any other type.
std::vector<unsigned char> binaryBytes(const mapi::SPropValue& value);

}  // namespace vexl
