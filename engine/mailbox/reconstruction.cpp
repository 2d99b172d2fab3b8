#include "engine/mailbox/reconstruction.h"

#include "engine/ltp/ndb_node.h"
#include "engine/mailbox/lost_and_found.h"
#include "engine/mailbox/mailbox_writer.h"
#include "engine/mailbox/named_prop_map.h"
#include "engine/mailbox/run_state.h"

namespace vexl {
namespace {

class Reconstruction final : public MailboxReconstruction {
 public:
  Reconstruction(EngineContext& engine, NdbFormat& ndb, TargetStore& store)
      : ndb_(ndb), store_(store), writer_(engine, ndb, store, state_), passes_(engine, ndb, store, writer_) {}

  void buildNamedPropMap() override { vexl::buildNamedPropMap(ndb_, store_.store(), state_.namedPropIds); }
  void copyStoreProperties() override {
    state_.messagesInFile = 0;  // the store step begins every target file
    writer_.recoverStore();
  }
  std::int32_t recoverRootFolder() override { return writer_.recoverMessages(); }
  std::int32_t runLostAndFoundPass(int level) override { return passes_.runPass(level); }

  void resetForNextFile() override {
    // The folders the maps name close with the target file.
    state_.clearFolders();
    NodeMap& index = ndb_.nodeIndex();
    for (std::uint32_t nid : {kNidMessageStore, kNidNameToIdMap})
      if (auto* versions = index.versions(nid))
        for (NdbNode& n : *versions) n.markUsed(0);
    for (auto& list : index.mutableLists()) {
      const std::uint64_t type = list.key & 0x1F;
      if (type != 2 && type != 3) continue;
      for (NdbNode& n : list.versions) n.markUsed(0);
    }
  }

 private:
  NdbFormat& ndb_;
  TargetStore& store_;
  MailboxRunState state_;
  MailboxWriter writer_;
  LostAndFound passes_;
};

}  // namespace

std::unique_ptr<MailboxReconstruction> makeMailboxReconstruction(EngineContext& engine, NdbFormat& ndb,
                                                                 TargetStore& store) {
  return std::make_unique<Reconstruction>(engine, ndb, store);
}

}  // namespace vexl
