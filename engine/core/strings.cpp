#include "engine/core/strings.h"

#include <array>
#include <utility>

namespace vexl {
namespace {

struct Resource {
  std::uint32_t id;
  const char* text;
};

constexpr std::array kResources{
    Resource{7, "Analyzing the source file ..."},
    Resource{10, "Error 1: Cannot open the file to be repaired. %1"},
    Resource{11, "Error 2: General error. %1"},
    Resource{12, "Error 3: Unknown error in %s."},
    Resource{13, "Recovered Personal Folder"},
    Resource{14,
             "Error 4: Initialization fails. Please make sure Outlook is installed and set as the "
             "default email client. You may also refer to the faq in the help document for the "
             "detailed information."},
    Resource{15,
             "Error 5: Cannot create destination file. If you have Outlook 2000 or earlier "
             "versions installed, please make sure it is installed in the Corporate or Workgroup "
             "mode. For Outlook 2002 and later versions, please make sure Exchange Server "
             "components are not installed on the current computer. You may also refer to the "
             "faq in the help document for the detailed information."},
    Resource{16, "IPM.Note"},
    Resource{19, "Recovered_Group%lu"},
    Resource{20, "Empty message with one attachment"},
    Resource{23, "Recovered_Folder%lu"},
    Resource{24, "Recover folder '%s' ..."},
    Resource{25, "Recover message '%s' ..."},
    Resource{26, "Recover attachment '%s' ..."},
    Resource{27, "Recovered Offline Folder"},
    Resource{28,
             "Share violation when opening the source file '%s'.\n"
             "Please close any other applications accessing the file and try again."},
    Resource{29, "whole recovery process"},
    Resource{30, "message recovery process"},
    Resource{33, "Current file size exceeds the limit. Create split file '%s'."},
    Resource{34, "Recover embedded message '%s' ..."},
    Resource{37, "Recover OLE 2 object ..."},
};

}  // namespace

const char* loadString(std::uint32_t id) {
  for (const Resource& r : kResources) {
    if (r.id == id) return r.text;
  }
  return "";
}

std::string formatPrintf(std::string_view format, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(format.size() + 64);
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    std::string_view rest = format.substr(i + 1);
    std::size_t spec = 0;
    if (rest.starts_with("%")) {
      out += '%';
      i += 1;
      continue;
    }
    if (rest.starts_with("s")) {
      spec = 1;
    } else if (rest.starts_with("lu")) {
      spec = 2;
    } else if (rest.starts_with("u")) {
      spec = 1;
    }
    if (spec == 0 || next == args.end()) {
      out += c;
      continue;
    }
    const FormatArg& arg = *next++;
    if (rest[0] == 's') {
      if (const auto* s = std::get_if<std::string_view>(&arg)) out += *s;
    } else if (const auto* n = std::get_if<std::uint32_t>(&arg)) {
      out += std::to_string(*n);
    }
    i += spec;
  }
  return out;
}

std::string formatPercentOne(std::string_view format, std::string_view description) {
  std::string out;
  out.reserve(format.size() + description.size());
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '1') {
      out += description;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

}  // namespace vexl
