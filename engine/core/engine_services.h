// The pieces of a run that come from outside the engine core: the Outlook
// version probe, the NDB readers and the variant decision, the target store
// over MAPI and the reconstruction steps.
// The export uses the platform's; tests substitute their own.
#pragma once

#include <functional>
#include <memory>

#include "engine/core/engine_context.h"
#include "engine/mailbox/reconstruction.h"
#include "engine/mapiout/target_store.h"
#include "engine/ndb/ndb_format.h"

namespace vexl {

struct EngineServices {
  using VariantDecision = std::function<std::uint8_t(EngineContext&, CFile64Ex&, NdbFormat& ansi,
                                                     NdbFormat& unicode, std::uint8_t, std::uint32_t)>;

  std::function<int()> probeOutlookVersion;
  // The NDB reader of one variant (32 ANSI, 64 Unicode) over the open source.
  std::function<std::unique_ptr<NdbFormat>(std::uint8_t variant, EngineContext&, CFile64Ex&)> makeNdbFormat;
  VariantDecision decideVariant;
  std::function<std::unique_ptr<TargetStore>()> makeTargetStore;
  std::function<std::unique_ptr<MailboxReconstruction>(EngineContext&, NdbFormat&, TargetStore&)>
      makeReconstruction;

  static EngineServices platform();
};

}  // namespace vexl
