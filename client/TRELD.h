// The caller's side of the engine's entry point, shared by the window program
// and the command line: fills the argument block, scrambles it and calls the
// library's export. Nothing else in the callers talks to the engine.
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/engine_api.h"

namespace vexl::client {

// Receives what the engine reports during a run. The result is read for
// QueryAbort only: true asks the engine to stop.
class EngineEvents {
 public:
  virtual ~EngineEvents() = default;
  virtual bool onMessage(std::int32_t code, void* data) = 0;
};

// The options a first start of the window program shows: fast scan, zero
// blocks ignored, unattached attachments recovered, items under the IPM
// subtree, all five lost-and-found passes, split off at 1000 MB, an offline
// source, both formats automatic.
EngineOptions defaultEngineOptions();

// Runs one recovery through the engine's export; 1 when anything was
// recovered. `events` may be null (the engine then reports nothing).
std::int32_t runRecovery(const std::string& sourcePath, const EngineOptions& options, const std::string& targetPath,
                         EngineEvents* events);

// The raw call: the block's six words as given.
std::int32_t callEngine(const char* sourcePath, const EngineOptions* options, const char* targetPath,
                        EngineCallback callback, void* user);

}  // namespace vexl::client
