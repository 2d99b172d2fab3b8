#include "engine/mailbox/reconstruction.h"

namespace vexl {
namespace {

class EmptyReconstruction final : public MailboxReconstruction {
 public:
  void buildNamedPropMap() override {}
  void copyStoreProperties() override {}
  std::int32_t recoverRootFolder() override { return 0; }
  std::int32_t runLostAndFoundPass(int) override { return 0; }
  void resetForNextFile() override {}
};

}  // namespace

std::unique_ptr<MailboxReconstruction> makeMailboxReconstruction(EngineContext&, NdbFormat&, TargetStore&) {
  return std::make_unique<EmptyReconstruction>();
}

}  // namespace vexl
