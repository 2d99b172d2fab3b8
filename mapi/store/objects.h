// Factories of this layer's MAPI objects; each returns one reference.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "mapi/mapiinterfaces.h"
#include "mapi/olestorage.h"
#include "mapi/store/prop_convert.h"
#include "mapi/store/store_context.h"

namespace vexl::mapi::store {

// A table over fixed rows (QueryRows, SetColumns, SeekRow, GetRowCount).
LPMAPITABLE makeRowTable(std::vector<PropMap> rows);

LPMDB makeMsgStore(std::shared_ptr<StoreContext> ctx, bool writable, std::vector<std::uint8_t> entryId);
// The store behind an IMsgStore of this layer, or null.
std::shared_ptr<StoreContext> contextOf(LPMDB store, bool* writable = nullptr);

LPMAPIFOLDER makeFolder(std::shared_ptr<StoreContext> ctx, pst::Nid nid, bool writable);
// A new message of `folder` under the NID the store reserved for it.
LPMESSAGE makeMessage(std::shared_ptr<StoreContext> ctx, pst::Nid folder, pst::Nid nid);

// A writable IStorage whose root Commit writes a compound file and passes
// its bytes to `onCommit`; `keepAlive` is held until the last storage or
// stream of the tree is released.
IStorage* makeStorage(std::function<HRESULT(std::vector<std::uint8_t>)> onCommit, IUnknown* keepAlive);

}  // namespace vexl::mapi::store
