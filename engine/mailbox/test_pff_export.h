// Test support: what pffexport -m all exports of a file, reduced to what a
// recovery must keep: the folder names and, per item, its kind and subject.
#pragma once

#include <set>
#include <string>

namespace vexl::testing {

struct ExportedMailbox {
  bool ran = false;                  // pffexport ran and left an export directory
  std::set<std::string> folders;     // folder directory names (pffexport's FolderNNNNN left out)
  std::multiset<std::string> items;  // "Kind|subject" of every item outside attachments
};

ExportedMailbox exportWithPffexport(const std::string& path);

}  // namespace vexl::testing
