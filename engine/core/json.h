// The one JSON string quoting of the reports and the command line.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace vexl {

// `s` (UTF-8) as a quoted JSON string.
inline std::string jsonString(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", c);
      out += b;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace vexl
