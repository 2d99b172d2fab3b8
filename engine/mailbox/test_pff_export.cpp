#include "engine/mailbox/test_pff_export.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

namespace vexl::testing {
namespace {

namespace fs = std::filesystem;

// Letters, then five digits: an item (Message00001) or a renamed folder
// (Folder00007).
bool isNumbered(const std::string& n, std::string& kind) {
  if (n.size() < 6) return false;
  const std::size_t digits = n.size() - 5;
  for (std::size_t i = 0; i < n.size(); ++i) {
    const auto c = static_cast<unsigned char>(n[i]);
    if (i < digits ? !std::isalpha(c) : !std::isdigit(c)) return false;
  }
  kind = n.substr(0, digits);
  return true;
}

std::string subjectOf(const fs::path& item) {
  for (const auto& f : fs::directory_iterator(item)) {
    if (!f.is_regular_file() || f.path().extension() != ".txt" || f.path().filename() == "InternetHeaders.txt") continue;
    std::ifstream in(f.path());
    for (std::string line; std::getline(in, line);)
      if (line.rfind("Subject:", 0) == 0) {
        const auto at = line.find_first_not_of(" \t", 8);
        return at == std::string::npos ? std::string() : line.substr(at);
      }
  }
  return {};
}

}  // namespace

ExportedMailbox exportWithPffexport(const std::string& path) {
  static int serial = 0;
  ExportedMailbox out;
  const fs::path dir =
      fs::temp_directory_path() / ("mailbox-pffexport-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string command = "cd '" + dir.string() + "' && pffexport -q -m all -t x '" + path + "' >/dev/null 2>&1";
  (void)std::system(command.c_str());
  std::function<void(const fs::path&)> walk = [&](const fs::path& p) {
    for (const auto& e : fs::directory_iterator(p)) {
      if (!e.is_directory()) continue;
      const std::string name = e.path().filename().string();
      if (name == "Attachments") continue;  // embedded items belong to their message
      std::string kind;
      if (isNumbered(name, kind) && kind != "Folder") {
        out.items.insert(kind + "|" + subjectOf(e.path()));
        continue;
      }
      if (kind != "Folder") out.folders.insert(name);
      walk(e.path());
    }
  };
  if (fs::exists(dir / "x.export")) {
    out.ran = true;
    walk(dir / "x.export");
  }
  fs::remove_all(dir);
  return out;
}

}  // namespace vexl::testing
