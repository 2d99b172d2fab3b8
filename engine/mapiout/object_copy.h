// The copy of a PT_OBJECT property (PR_ATTACH_DATA_OBJ and the like): its
// data lives in a subnode of the source node, and is either an OLE 2
// compound file, copied storage by storage into the target's object, or an
// embedded message, opened on the target and filled by the message
// recovery. The data decides, not PR_ATTACH_METHOD.
#pragma once

#include <functional>

#include "engine/core/engine_context.h"
#include "engine/ndb/node_map.h"
#include "mapi/mapiinterfaces.h"
#include "mapi/olestorage.h"

namespace vexl {

// The target's object is opened to be written (0x0B), the source storage
// to be read (0x10010).
inline constexpr mapi::ULONG kOpenObjectFlags = mapi::MAPI_MODIFY | mapi::MAPI_CREATE | mapi::MAPI_DEFERRED_ERRORS;
inline constexpr mapi::DWORD kOpenSourceStorageMode =
    mapi::STGM_TRANSACTED | mapi::STGM_SHARE_EXCLUSIVE | mapi::STGM_READ;

// Fills the embedded message `message` from its source node `node`;
// non-zero on success. The message belongs to the caller.
using EmbeddedMessageFill = std::function<int(NdbNode& node, mapi::IMessage* message)>;

// Copies `record` (a PT_OBJECT record of `node`, its tag already mapped)
// onto `target`: 1 when the storage was committed or the embedded message
// filled, else 0. The subnode's bytes go through a temporary file, which is
// removed before returning; without the subnode nothing is made at all.
int copyObjectProp(EngineContext& engine, const EmbeddedMessageFill& fillEmbedded, NdbNode& node,
                   const mapi::SPropValue& record, mapi::IMAPIProp* target);

}  // namespace vexl
