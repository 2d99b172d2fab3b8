// The engine's exception base class. Only the file layer throws; the driver
// and the message steps catch it and report its description.
#pragma once

#include <string>

namespace vexl {

class EngineException {
 public:
  virtual ~EngineException() = default;
  // Writes the description into `out`; false when there is none.
  virtual bool description(std::string& out) const = 0;
};

}  // namespace vexl
