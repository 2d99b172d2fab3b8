// The kind of MAPI object a property array describes, guessed from the
// tags MAPI defines for stores, address books, folders, messages, mail
// users, attachments, profile sections and status objects.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mapi/mapidefs.h"

namespace vexl {

// The object type (MAPI_STORE ... MAPI_STATUS) of the first record whose
// complete tag (type included) is one of the characteristic tags; 0 when
// none is.
mapi::ULONG objectKindOfProps(std::uint32_t count, const mapi::SPropValue* props);

// The object type one tag is characteristic of, or 0.
mapi::ULONG objectKindOfTag(mapi::ULONG tag);

// Number of characteristic tags (each tag once).
std::size_t objectKindTagCount();

}  // namespace vexl
