#include "engine/core/engine_context.h"

#include <algorithm>
#include <string>

namespace vexl {

namespace {
// describeError asks for the description into a 4,096-byte buffer.
constexpr std::size_t kDescriptionLimit = 4095;
}  // namespace

EngineContext::EngineContext(EngineCallback callback, void* user) : callback_(callback), user_(user) {}

std::int32_t EngineContext::send(CallbackCode code, void* data) {
  if (callback_ == nullptr) return 0;
  return callback_(code, data, user_);
}

void EngineContext::reportProgress(std::uint8_t percent) {
  if (callback_ == nullptr) return;
  std::uint8_t value = percent;
  send(Progress, &value);
}

std::int32_t EngineContext::queryAbort() { return send(QueryAbort, nullptr); }

void EngineContext::sendText(CallbackCode code, std::string_view text) {
  if (callback_ == nullptr) return;
  std::string copy(text);  // zero-terminated and engine-owned for the call
  send(code, copy.data());
}

void EngineContext::report(CallbackCode code, std::uint32_t id, std::initializer_list<FormatArg> args) {
  if (callback_ == nullptr) return;
  sendText(code, formatPrintf(loadString(id), args));
}

std::string EngineContext::describeError(std::uint32_t id, const EngineException* error) {
  std::string description;
  if (error == nullptr || !error->description(description)) description = kNoErrorMessage;
  if (description.size() > kDescriptionLimit) description.resize(kDescriptionLimit);
  // A description is text up to its first zero byte, as in the fixed buffer.
  description.resize(std::min(description.size(), description.find('\0')));
  return formatPercentOne(loadString(id), description);
}

}  // namespace vexl
