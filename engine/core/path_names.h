// File-name arithmetic shared by the engine and its callers (header only, so
// the callers need nothing but the engine's export).
#pragma once

#include <string>
#include <string_view>

namespace vexl {

struct StemAndExtension {
  std::string_view stem;
  std::string_view extension;  // from the dot on, or empty
};

// Splits at the last character that is a period, a backslash, a slash or a
// colon, when that character is the period: "D:\Mail\out.pst" gives
// "D:\Mail\out" and ".pst"; "/a.b/out" has no extension.
inline StemAndExtension splitExtension(std::string_view path) {
  const std::size_t mark = path.find_last_of(".\\/:");
  if (mark == std::string_view::npos || path[mark] != '.') return {path, {}};
  return {path.substr(0, mark), path.substr(mark)};
}

// The target the programs propose for a source: its stem with
// "_recovered.pst", so "mail.ost" gives "mail_recovered.pst".
inline std::string makeTargetName(std::string_view source) {
  return std::string(splitExtension(source).stem) + "_recovered.pst";
}

}  // namespace vexl
