// RecoveryEngine: one run from the source OST file to the target PST files.
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/engine_context.h"
#include "engine/core/engine_services.h"

namespace vexl {

class RecoveryEngine : public EngineContext {
 public:
  RecoveryEngine(EngineCallback callback, void* user, EngineServices services = EngineServices::platform());
  ~RecoveryEngine() override = default;

  // Runs the recovery; 1 when anything was recovered, else 0. `reserved` is
  // not read. Never throws.
  std::int32_t run(const char* sourcePath, const EngineOptions* options, std::uintptr_t reserved,
                   const char* targetPath);

  // The path of split file `number` made from the first target path:
  // "out.pst" gives "out_1.pst", a name without extension gets "_1" appended.
  static std::string splitFileName(const std::string& targetPath, std::uint32_t number);

 private:
  PstFormat chooseTargetFormat();
  NdbFormat& chooseVariant(CFile64Ex& source, NdbFormat& ansi, NdbFormat& unicode);
  // Each target file in turn; `sourcePath` is never one of them.
  void fillTargetFiles(TargetStore& store, NdbFormat& ndb, const std::string& sourcePath,
                       const std::string& targetPath);
  void reportOpenFailure(const FileError& error, const std::string& sourcePath);

  EngineServices services_;
  std::int32_t total_ = 0;
};

}  // namespace vexl
