// The named property map of one target file: every name of the source's
// name-to-id map ([MS-PST] 2.4.7, node NID_NAME_TO_ID_MAP 0x61) registered
// with the target store, and the id the store gave it recorded for the
// source id 0x8000 + wPropIdx.
#pragma once

#include <cstdint>

#include "engine/mapiout/named_prop_ids.h"
#include "engine/ndb/ndb_format.h"
#include "mapi/mapiinterfaces.h"

namespace vexl {

inline constexpr std::uint32_t kNidNameToIdMap = 0x61;

// Stream properties of the name-to-id map's property context.
inline constexpr std::uint32_t kTagNameidStreamGuid = 0x00020102;
inline constexpr std::uint32_t kTagNameidStreamEntry = 0x00030102;
inline constexpr std::uint32_t kTagNameidStreamString = 0x00040102;

// Empties `ids`, then fills it from node 0x61 of `ndb`'s node index through
// `store`'s GetIDsFromNames (MAPI_CREATE). 1 when the node was read (and
// marked used), 0 without the node, without a store, or when the node is
// not a readable property context.
//
// Records whose GUID is PS_MAPI or none, or names a GUID the GUID stream
// lacks, are left out; a string name whose length runs past the string
// stream is cut to what the stream holds, and one that starts outside it
// is left out. An answer that is not one valid named id (0x8000 to 0xFFFE,
// not PT_ERROR) records nothing.
int buildNamedPropMap(NdbFormat& ndb, mapi::IMsgStore* store, NamedPropIds& ids);

}  // namespace vexl
