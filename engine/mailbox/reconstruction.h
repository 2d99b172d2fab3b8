// The reconstruction steps that fill one target file: named property map,
// store properties and special folders, the walk from the root folder, and
// the lost-and-found passes.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/core/engine_context.h"
#include "engine/mapiout/target_store.h"
#include "engine/ndb/ndb_format.h"

namespace vexl {

class MailboxReconstruction {
 public:
  virtual ~MailboxReconstruction() = default;
  virtual void buildNamedPropMap() = 0;
  virtual void copyStoreProperties() = 0;
  // Number of folders and messages recovered by the walk.
  virtual std::int32_t recoverRootFolder() = 0;
  // Lost-and-found pass `level` (1 to 5); number of items recovered.
  virtual std::int32_t runLostAndFoundPass(int level) = 0;
  // Clears the used marks of the store, the name-to-id map and the folders
  // before the next split file.
  virtual void resetForNextFile() = 0;
};

// The reconstruction over `ndb`'s node index into `store`.
std::unique_ptr<MailboxReconstruction> makeMailboxReconstruction(EngineContext& engine, NdbFormat& ndb,
                                                                 TargetStore& store);

}  // namespace vexl
