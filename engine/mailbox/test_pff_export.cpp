#include "engine/mailbox/test_pff_export.h"

#include <unistd.h>

#include <algorithm>
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
  std::function<void(const fs::path&, const std::string&)> walk = [&](const fs::path& p, const std::string& rel) {
    for (const auto& e : fs::directory_iterator(p)) {
      if (!e.is_directory()) continue;
      const std::string name = e.path().filename().string();
      if (name == "Attachments") continue;  // embedded items belong to their message
      std::string kind;
      if (isNumbered(name, kind) && kind != "Folder") {
        const std::string item = kind + "|" + subjectOf(e.path());
        out.items.insert(item);
        out.placedItems.insert(rel + "|" + item);
        continue;
      }
      if (kind != "Folder") out.folders.insert(name);
      const std::string child = rel.empty() ? name : rel + "/" + name;
      out.folderPaths.insert(child);
      walk(e.path(), child);
    }
  };
  if (fs::exists(dir / "x.export")) {
    out.ran = true;
    walk(dir / "x.export", "");
  }
  fs::remove_all(dir);
  return out;
}

std::string ExportedMailbox::pathEndingIn(const std::string& name) const {
  for (const std::string& p : folderPaths)
    if (p == name || (p.size() > name.size() && p.compare(p.size() - name.size(), name.size(), name) == 0 &&
                      p[p.size() - name.size() - 1] == '/'))
      return p;
  return {};
}

std::size_t itemsFound(const std::multiset<std::string>& expected, const std::multiset<std::string>& found) {
  std::size_t n = 0;
  for (auto it = expected.begin(); it != expected.end(); it = expected.upper_bound(*it))
    n += std::min(expected.count(*it), found.count(*it));
  return n;
}

}  // namespace vexl::testing
