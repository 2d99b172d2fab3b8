// The lost-and-found passes: after the walk from the root, what the folder
// tree no longer connects (nodes whose parent is gone, older node versions,
// subnode trees and data trees no index entry names, older block versions)
// is written into a group folder of its own per pass, "Recovered_Group<n>"
// under the target's IPM subtree. Every pass takes only what is still
// unused and stops taking items once the target file is full.
#pragma once

#include <cstdint>

#include "engine/core/engine_context.h"
#include "engine/mailbox/mailbox_writer.h"
#include "engine/mapiout/target_store.h"
#include "engine/ndb/ndb_format.h"

namespace vexl {

class LostAndFound {
 public:
  LostAndFound(EngineContext& engine, NdbFormat& ndb, TargetStore& store, MailboxWriter& writer);

  // Pass `level` (1 to 5); the number of items recovered, 0 for any other
  // level.
  std::int32_t runPass(int level);

  // Pass 1: nodes whose parent is 0 or unknown, then every node still unused.
  std::int32_t passUnparented();
  // Pass 2: every version of a node but its last.
  std::int32_t passOldVersions();
  // Pass 3: the nodes of subnode trees no index entry reached.
  std::int32_t passLostSubnodes();
  // Pass 4: data trees no index entry reached, read as nodes of their own.
  std::int32_t passLostDataBlocks();
  // Pass 5: the older versions of every data block, newest first.
  std::int32_t passOldBlockVersions();

  // The data tree at `bid` as a node of its own (NID 0, no subnodes),
  // dispatched by the kind its properties show into `group`.
  std::int32_t recoverFromDataBlock(std::uint64_t bid, mapi::IMAPIFolder* group);

 private:
  // Opens a group folder, runs `body` over it, and removes the folder again
  // when the body recovered nothing.
  template <typename Body>
  std::int32_t inGroupFolder(Body&& body);

  EngineContext& engine_;
  NdbFormat& ndb_;
  TargetStore& store_;
  MailboxWriter& writer_;
};

}  // namespace vexl
