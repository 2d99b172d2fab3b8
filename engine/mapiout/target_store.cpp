#include "engine/mapiout/target_store.h"

#include "mapi/mapix.h"

namespace vexl {
namespace {

class MapiTargetStore final : public TargetStore {
 public:
  ~MapiTargetStore() override { shutdown(); }

  bool initialize() override {
    initialized_ = mapi::MAPIInitialize(nullptr) == mapi::S_OK;
    return initialized_;
  }

  // The PST writer is not part of this library yet: no file can be created.
  bool create(const std::string&, std::uint32_t, const std::string&, const std::string&, PstFormat) override {
    return false;
  }

  void close() override {}

  void shutdown() override {
    close();
    if (initialized_) {
      mapi::MAPIUninitialize();
      initialized_ = false;
    }
  }

 private:
  bool initialized_ = false;
};

}  // namespace

std::unique_ptr<TargetStore> makeMapiTargetStore() { return std::make_unique<MapiTargetStore>(); }

int probeOutlookVersion() { return 9; }

}  // namespace vexl
