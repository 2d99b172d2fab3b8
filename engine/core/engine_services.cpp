#include "engine/core/engine_services.h"

namespace vexl {

EngineServices EngineServices::platform() {
  EngineServices services;
  services.probeOutlookVersion = &vexl::probeOutlookVersion;
  services.makeNdbFormat = [](std::uint8_t variant, EngineContext& engine,
                              CFile64Ex& source) -> std::unique_ptr<NdbFormat> {
    if (variant == 32) return std::make_unique<AnsiNdbFormat>(engine, source);
    return std::make_unique<UnicodeNdbFormat>(engine, source);
  };
  services.decideVariant = [](EngineContext& engine, CFile64Ex& source, NdbFormat& ansi, NdbFormat& unicode,
                              std::uint8_t startPercent, std::uint32_t divisor) {
    return vexl::decideVariant(engine, source, static_cast<AnsiNdbFormat&>(ansi),
                               static_cast<UnicodeNdbFormat&>(unicode), startPercent, divisor);
  };
  services.makeTargetStore = &makeMapiTargetStore;
  services.makeReconstruction = &makeMailboxReconstruction;
  return services;
}

}  // namespace vexl
