// Test support: an EngineCallback that records every report as a line of
// text, so that tests compare whole sequences.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/engine_api.h"

namespace vexl::test_support {

struct EventLog {
  std::vector<std::string> events;
  // Answer to each QueryAbort, given the number of queries so far (from 1).
  std::function<std::int32_t(int)> abortAnswer = [](int) { return 0; };
  int abortQueries = 0;

  static std::int32_t callback(std::int32_t code, void* data, void* user) {
    auto* log = static_cast<EventLog*>(user);
    switch (code) {
      case Progress:
        log->events.push_back("Progress " + std::to_string(*static_cast<std::uint8_t*>(data)));
        return 0;
      case QueryAbort: {
        std::int32_t answer = log->abortAnswer(++log->abortQueries);
        log->events.push_back("QueryAbort -> " + std::to_string(answer));
        return answer;
      }
      case RecoveredCount:
        log->events.push_back("RecoveredCount " + std::to_string(*static_cast<std::int32_t*>(data)));
        return 0;
      case CloseMainWindow:
        log->events.push_back("CloseMainWindow");
        return 0;
      case SourceFile:
        log->events.push_back("SourceFile " + std::string(static_cast<const char*>(data)));
        return 0;
      case LogLine:
        log->events.push_back("LogLine " + std::string(static_cast<const char*>(data)));
        return 0;
      case ErrorText:
        log->events.push_back("ErrorText " + std::string(static_cast<const char*>(data)));
        return 0;
      case ShowMessage:
        log->events.push_back("ShowMessage " + std::string(static_cast<const char*>(data)));
        return 0;
      default:
        log->events.push_back("Code " + std::to_string(code));
        return 0;
    }
  }
};

}  // namespace vexl::test_support
