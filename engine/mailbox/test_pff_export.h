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
  std::set<std::string> folderPaths;       // "Top/Inbox/sub1", from the export's top
  std::multiset<std::string> placedItems;  // "Top/Inbox|Kind|subject"

  // The folder path that ends in `name` ("Top/Inbox/sub1" for "Inbox/sub1"),
  // empty when there is none.
  std::string pathEndingIn(const std::string& name) const;
};

ExportedMailbox exportWithPffexport(const std::string& path);

// How many of `expected`'s items `found` holds (each item at most as often
// as `expected` does).
std::size_t itemsFound(const std::multiset<std::string>& expected, const std::multiset<std::string>& found);

}  // namespace vexl::testing
