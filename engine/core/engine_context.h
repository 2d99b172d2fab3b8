// What every step of a run sees of the engine: the options of the run and
// the reporting operations over the caller's EngineCallback. RecoveryEngine
// (the driver) derives from it; the lower layers take it by reference so they
// need not know the driver.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "engine/core/engine_api.h"
#include "engine/core/engine_exception.h"
#include "engine/core/strings.h"

namespace vexl {

// The target format, chosen once per run.
enum class PstFormat : std::uint8_t { Ansi = 32, Unicode = 64 };

class EngineContext {
 public:
  EngineContext(EngineCallback callback, void* user);
  virtual ~EngineContext() = default;
  EngineContext(const EngineContext&) = delete;
  EngineContext& operator=(const EngineContext&) = delete;

  const EngineOptions& options() const { return options_; }
  bool hasCallback() const { return callback_ != nullptr; }

  // Sends Progress with the percentage.
  void reportProgress(std::uint8_t percent);
  // Sends QueryAbort; 0 without a callback.
  std::int32_t queryAbort();
  // Loads resource `id`, formats it printf-style and sends it with `code`.
  void report(CallbackCode code, std::uint32_t id, std::initializer_list<FormatArg> args = {});
  // Resource `id` with %1 replaced by the exception's description (or the
  // fallback text), cut to 4,095 characters.
  static std::string describeError(std::uint32_t id, const EngineException* error);
  // Sends a finished text with `code`.
  void sendText(CallbackCode code, std::string_view text);
  // Sends a code with raw data (null, or engine-owned memory).
  std::int32_t send(CallbackCode code, void* data);

  // Set when the current target file has grown past the split limit;
  // cleared at the start of each target file.
  bool splitPending = false;
  // The format of the target files; Ansi until the run decides.
  PstFormat pstFormat = PstFormat::Ansi;

 protected:
  EngineOptions options_{};

 private:
  EngineCallback callback_;
  void* user_;
};

}  // namespace vexl
