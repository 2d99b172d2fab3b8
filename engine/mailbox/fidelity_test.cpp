// Fidelity of whole recoveries: every item pffexport finds in a sample is
// found again in the recovered file, in the folder it belongs in, with the
// same kind, subject, time, body bytes, recipients and attachment count.
//
// pffexport names folders by their display names and items by number
// (Message00003), so items are matched by (folder, kind, subject, time)
// read from the metadata files of the export, not by directory name.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "client/TRELD.h"
#include "engine/ndb/test_ndb_file.h"
#include "mapi/pst/test_validators.h"

namespace vexl::testing {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// The export, read back

struct ExportedItem {
  std::string folder;   // normalised folder path, see normaliseFolder
  std::string kind;     // Message, Appointment, Contact, Meeting, ...
  std::string subject;
  std::string time;     // client submit time, else creation time, as pffexport prints it
  std::map<std::string, std::string> bodies;  // "Message.txt" / ".html" / ".rtf" -> bytes
  std::vector<std::string> recipients;        // "name|address|type", sorted
  std::size_t attachments = 0;
  std::string where;    // directory in the export, for messages

  std::string key() const { return keyIn(folder); }
  std::string keyIn(const std::string& f) const { return f + " | " + kind + " | " + subject + " | " + time; }
};

struct Export {
  bool ran = false;
  std::multiset<std::string> folders;  // normalised paths of every folder (generated names included)
  std::multimap<std::string, ExportedItem> items;  // by key()
  // Items pffexport found in free space, in its ".recovered" tree: their
  // kind, subject and time, without a folder.
  std::vector<ExportedItem> freeSpaceItems;
};

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Letters, then five digits: an item (Message00001) or a folder pffexport
// could not name (Folder00007).
bool isNumbered(const std::string& n, std::string& kind) {
  kind.clear();
  if (n.size() < 6) return false;
  const std::size_t letters = n.size() - 5;
  for (std::size_t i = 0; i < n.size(); ++i) {
    const auto c = static_cast<unsigned char>(n[i]);
    if (i < letters ? !std::isalpha(c) : !std::isdigit(c)) return false;
  }
  kind = n.substr(0, letters);
  return true;
}

// The names pffexport shows for an IPM subtree: a PST's top folder (also
// in Japanese), the Exchange mailbox's IPM_SUBTREE, and the target's top
// folder once the Exchange subtree's name has been copied onto it. Every
// one becomes "IPM"; any other folder keeps its path under "ROOT".
std::string normaliseFolder(const std::string& relative) {
  for (const char* top : {"Top of Personal Folders", "Top of Outlook data file",
                          "Outlook \u30C7\u30FC\u30BF \u30D5\u30A1\u30A4\u30EB\u306E\u30C8\u30C3\u30D7",
                          "Root - Mailbox/IPM_SUBTREE", "IPM_SUBTREE"}) {
    const std::string t = top;
    if (relative == t) return "IPM";
    if (relative.rfind(t + "/", 0) == 0) return "IPM/" + relative.substr(t.size() + 1);
  }
  return relative.empty() ? "ROOT" : "ROOT/" + relative;
}

// Where a source folder lands in the target: the IPM subtree onto the
// target's; a folder outside it onto the target's own root folder of that
// name (Search Root, IPM_VIEWS, ...), else under the target's IPM subtree.
std::string placeInTarget(const std::string& sourceFolder, const std::multiset<std::string>& targetFolders) {
  if (sourceFolder.rfind("ROOT/", 0) != 0) return sourceFolder;
  const std::string top = sourceFolder.substr(0, sourceFolder.find('/', 5));
  if (targetFolders.count(top)) return sourceFolder;
  return "IPM/" + sourceFolder.substr(5);
}

// "Name:\t\t\tvalue" lines of a pffexport metadata file.
std::multimap<std::string, std::string> fieldsOf(const fs::path& file) {
  std::multimap<std::string, std::string> out;
  std::ifstream in(file, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto colon = line.find(':');
    if (colon == std::string::npos || colon == 0 || (line[colon + 1] != '\t' && line[colon + 1] != ' ')) continue;
    const auto at = line.find_first_not_of(" \t", colon + 1);
    out.emplace(line.substr(0, colon), at == std::string::npos ? std::string() : line.substr(at));
  }
  return out;
}

std::string field(const std::multimap<std::string, std::string>& f, const std::string& name) {
  const auto it = f.find(name);
  return it == f.end() ? std::string() : it->second;
}

// Recipients.txt: one block per recipient, blank line between blocks.
std::vector<std::string> recipientsOf(const fs::path& file) {
  std::vector<std::string> out;
  if (!fs::exists(file)) return out;
  std::ifstream in(file, std::ios::binary);
  std::string name, address, type;
  auto flush = [&] {
    if (!name.empty() || !address.empty() || !type.empty()) out.push_back(name + "|" + address + "|" + type);
    name.clear(), address.clear(), type.clear();
  };
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      flush();
      continue;
    }
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    const auto at = line.find_first_not_of(" \t", colon + 1);
    const std::string value = at == std::string::npos ? std::string() : line.substr(at);
    const std::string label = line.substr(0, colon);
    if (label == "Display name") name = value;
    else if (label == "Email address") address = value;
    else if (label == "Recipient type") type = value;
  }
  flush();
  std::sort(out.begin(), out.end());
  return out;
}

ExportedItem readItem(const fs::path& dir, const std::string& kind, const std::string& folder) {
  ExportedItem item;
  item.kind = kind;
  item.folder = folder;
  item.where = dir.string();
  fs::path meta = dir / "OutlookHeaders.txt";
  if (!fs::exists(meta)) meta = dir / (kind + ".txt");
  const auto f = fieldsOf(meta);
  item.subject = field(f, "Subject");
  item.time = field(f, "Client submit time");
  if (item.time.empty()) item.time = field(f, "Creation time");
  for (const char* body : {"Message.txt", "Message.html", "Message.rtf"})
    if (fs::exists(dir / body)) item.bodies[body] = readAll(dir / body);
  item.recipients = recipientsOf(dir / "Recipients.txt");
  if (fs::is_directory(dir / "Attachments"))
    for ([[maybe_unused]] const auto& a : fs::directory_iterator(dir / "Attachments")) ++item.attachments;
  return item;
}

// Every item directory below `root`, with its kind and the folder path
// relative to `root`; `onFolder` sees every folder.
void walkExportTree(const fs::path& root, const std::function<void(const fs::path&, const std::string&, const std::string&)>& onItem,
                    const std::function<void(const std::string&)>& onFolder) {
  std::function<void(const fs::path&, const std::string&)> walk = [&](const fs::path& dir, const std::string& rel) {
    for (const auto& e : fs::directory_iterator(dir)) {
      if (!e.is_directory()) continue;
      const std::string name = e.path().filename().string();
      std::string kind;
      if (isNumbered(name, kind) && kind != "Folder") {
        onItem(e.path(), kind, rel);
        continue;
      }
      const std::string child = rel.empty() ? name : rel + "/" + name;
      onFolder(child);
      walk(e.path(), child);
    }
  };
  walk(root, "");
}

// Runs pffexport on `file` (all items, every body format) and reads back
// its ".export" tree and the items of its ".recovered" tree (free space).
// The ".orphans" tree is left out.
Export exportFile(const std::string& file, const fs::path& scratch) {
  Export out;
  const fs::path base = scratch / "x";
  const std::string command =
      "LC_ALL=C.UTF-8 pffexport -q -m all -f all -t '" + base.string() + "' '" + file + "' >'" + (scratch / "log").string() + "' 2>&1";
  (void)pst::test::runCommand(command);
  const fs::path root = scratch / "x.export";
  if (!fs::is_directory(root)) return out;
  out.ran = true;
  walkExportTree(
      root,
      [&](const fs::path& dir, const std::string& kind, const std::string& rel) {
        ExportedItem item = readItem(dir, kind, normaliseFolder(rel));
        out.items.emplace(item.key(), std::move(item));
      },
      [&](const std::string& rel) { out.folders.insert(normaliseFolder(rel)); });
  const fs::path freeSpace = scratch / "x.recovered";
  if (fs::is_directory(freeSpace))
    walkExportTree(
        freeSpace,
        [&](const fs::path& dir, const std::string& kind, const std::string&) {
          out.freeSpaceItems.push_back(readItem(dir, kind, ""));
        },
        [](const std::string&) {});
  return out;
}

// Expected differences, each named by what is missing. Nothing else is
// let through.
struct Expected {
  std::set<std::string> duplicateFolders;  // accepted second folders of one name in the target
  // Folders whose target items cannot be told apart: pffexport exports two
  // folders of one name into one directory, so their items overwrite.
  std::set<std::string> unverifiedItemFolders;
};

Expected expectedFor(const std::string& /*sample*/) {
  Expected e;
  return e;
}

// ---------------------------------------------------------------------------
// The comparisons

bool hasGeneratedSegment(const std::string& path) {
  std::string kind;
  std::size_t from = 0;
  while (from <= path.size()) {
    const auto to = std::min(path.find('/', from), path.size());
    if (isNumbered(path.substr(from, to - from), kind) && kind == "Folder") return true;
    from = to + 1;
  }
  return false;
}

// Folders: every named source folder is in the target at the same place
// (IPM-subtree folders under the target's IPM subtree, special folders
// onto the target's own), and no source folder becomes a second folder of
// the same name beside one of the target's, except `allowedDuplicates`.
void compareFolders(const Export& source, const Export& target, const std::set<std::string>& allowedDuplicates) {
  for (const std::string& folder : std::set<std::string>(source.folders.begin(), source.folders.end())) {
    if (hasGeneratedSegment(folder)) continue;  // pffexport's FolderNNNNN: no name to compare
    EXPECT_TRUE(target.folders.count(placeInTarget(folder, target.folders)))
        << "source folder " << folder << " is not in the target at " << placeInTarget(folder, target.folders);
  }
  for (const std::string& folder : std::set<std::string>(target.folders.begin(), target.folders.end())) {
    if (target.folders.count(folder) >= 2) {
      EXPECT_TRUE(allowedDuplicates.count(folder)) << "two target folders at " << folder;
    }
  }
}

// Items: every source item is in the target under the same key, with the
// same bodies, recipients and attachment count. Returns the number of
// source items checked.
std::size_t compareItems(const Export& source, const Export& target, const Expected& expected) {
  std::size_t checked = 0;
  for (auto it = source.items.begin(); it != source.items.end(); it = source.items.upper_bound(it->first)) {
    const std::string place = placeInTarget(it->second.folder, target.folders);
    const std::string key = it->second.keyIn(place);
    if (expected.unverifiedItemFolders.count(place)) {
      std::cerr << "fidelity: not compared (two folders " << place << "): " << key << "\n";
      continue;
    }
    const auto [sb, se] = source.items.equal_range(it->first);
    const auto [tb, te] = target.items.equal_range(key);
    const auto want = static_cast<std::size_t>(std::distance(sb, se));
    const auto have = static_cast<std::size_t>(std::distance(tb, te));
    EXPECT_GE(have, want) << "item " << key << " (source " << sb->second.where << ")";
    // Items with one key are compared pairwise in export order; when a
    // key has several, each source item must equal one target item.
    std::vector<bool> used(have, false);
    for (auto s = sb; s != se; ++s, ++checked) {
      const ExportedItem& want_item = s->second;
      SCOPED_TRACE("item " + key + " (source " + want_item.where + ")");
      bool found = false;
      std::size_t i = 0;
      std::string why = "no target item";
      for (auto t = tb; t != te && !found; ++t, ++i) {
        if (used[i]) continue;
        const ExportedItem& got = t->second;
        if (got.bodies != want_item.bodies) {
          why = "bodies differ (target " + got.where + ")";
          for (const auto& [name, bytes] : want_item.bodies) {
            const auto g = got.bodies.find(name);
            if (g == got.bodies.end()) {
              why += ", no " + name;
            } else if (g->second != bytes) {
              why += ", " + name + " " + std::to_string(bytes.size()) + " vs " + std::to_string(g->second.size()) +
                     " bytes";
            }
          }
          for (const auto& [name, bytes] : got.bodies)
            if (!want_item.bodies.count(name)) why += ", extra " + name;
          continue;
        }
        if (got.recipients != want_item.recipients) {
          why = "recipients differ (target " + got.where + ")";
          continue;
        }
        if (got.attachments != want_item.attachments) {
          why = "attachment count " + std::to_string(want_item.attachments) + " in the source, " +
                std::to_string(got.attachments) + " in the target " + got.where;
          continue;
        }
        used[i] = true;
        found = true;
      }
      EXPECT_TRUE(found) << why;
    }
  }
  return checked;
}

// A Unicode target read by a second reader, pst-extractor: it opens the
// file, reads every item and attachment, and counts the items pffexport
// saw. pffexport skips the items of classes it has no export for
// (IPM.Configuration.*, free/busy data, ...) and logs each, so its count is
// what it exported plus what it skipped, and no folder has fewer items in
// pst-extractor than pffexport exported from it.
void compareWithPstExtractor(const fs::path& target, const Export& recovered, const fs::path& exportLog) {
  const auto walk = pst::test::pstExtractorWalk(target.string());
  if (!walk.skipped.empty()) {
    std::cerr << "fidelity: pst-extractor check skipped: " << walk.skipped << "\n";
    return;
  }
  ASSERT_EQ(walk.problem, "");
  EXPECT_EQ(walk.errors, 0) << "items or attachments pst-extractor could not read";
  std::size_t skippedByPffexport = 0;
  std::istringstream log(readAll(exportLog));
  for (std::string line; std::getline(log, line);) skippedByPffexport += line.rfind("Skipped item ", 0) == 0;
  EXPECT_EQ(static_cast<std::size_t>(walk.items), recovered.items.size() + skippedByPffexport)
      << "items: pst-extractor, then pffexport's exported and skipped ones";
  std::map<std::string, int> extractor, exported;
  for (const auto& f : walk.folders) extractor[normaliseFolder(f.path)] += f.items;
  for (const auto& entry : recovered.items) ++exported[entry.second.folder];
  for (const auto& [folder, count] : exported)
    EXPECT_GE(extractor[folder], count) << folder << ": items in pst-extractor, then in pffexport's export";
}

// What pffexport finds in the source's free space (deleted items, older
// versions) the lost-and-found passes find too: each such item is in the
// target with the same kind and subject, in any folder, and with the same
// time where pffexport could read one (older versions often have none).
void compareFreeSpaceItems(const Export& source, const Export& target) {
  std::set<std::string> withTime, withoutTime;
  for (const auto& entry : target.items) {
    withTime.insert(entry.second.keyIn(""));
    withoutTime.insert(entry.second.kind + "|" + entry.second.subject);
  }
  for (const ExportedItem& item : source.freeSpaceItems) {
    const bool found = item.time.empty() ? withoutTime.count(item.kind + "|" + item.subject) != 0
                                         : withTime.count(item.keyIn("")) != 0;
    EXPECT_TRUE(found) << "free-space item not recovered: " << item.keyIn("") << " (" << item.where << ")";
  }
}

// ---------------------------------------------------------------------------
// The recoveries

class Silent final : public client::EngineEvents {
 public:
  bool onMessage(std::int32_t code, void* data) override {
    if (code == ErrorText && data != nullptr) errors.emplace_back(static_cast<const char*>(data));
    return false;
  }
  std::vector<std::string> errors;
};

void recoverAndCompare(const std::string& sample, std::int32_t dstFormat) {
  SCOPED_TRACE(sample + (dstFormat == 1 ? " into ANSI" : dstFormat == 2 ? " into Unicode" : " (default format)"));
  const fs::path scratch = pst::test::makeTempDir("fidelity");
  const fs::path target = scratch / "recovered.pst";
  EngineOptions options = client::defaultEngineOptions();
  // The command line's defaults: the window program's, but Unicode output
  // (there is no Outlook here to ask, and an ANSI file in code page 1252
  // cannot hold the Japanese sample's names).
  options.DstFormat = static_cast<std::uint8_t>(dstFormat == 0 ? 2 : dstFormat);
  Silent events;
  ASSERT_EQ(client::runRecovery(sample, options, target.string(), &events), 1);
  EXPECT_TRUE(events.errors.empty()) << events.errors.front();
  ASSERT_TRUE(fs::exists(target));

  fs::create_directories(scratch / "source");
  fs::create_directories(scratch / "target");
  const Export source = exportFile(sample, scratch / "source");
  const Export recovered = exportFile(target.string(), scratch / "target");
  ASSERT_TRUE(source.ran);
  ASSERT_TRUE(recovered.ran);

  const Expected expected = expectedFor(sample);
  compareFolders(source, recovered, expected.duplicateFolders);
  compareItems(source, recovered, expected);
  if (options.DstFormat == 2) compareWithPstExtractor(target, recovered, scratch / "target" / "log");
  compareFreeSpaceItems(source, recovered);
  if (expected.unverifiedItemFolders.empty()) {
    // What the lost-and-found passes add (older versions, unreferenced
    // blocks) is in their group folders; everything else is the walk's.
    std::size_t walked = 0;
    for (const auto& entry : recovered.items) walked += entry.second.folder.rfind("IPM/Recovered_Group", 0) == 0 ? 0 : 1;
    EXPECT_EQ(walked, source.items.size()) << "the target has items the source has not";
  }
  if (!::testing::Test::HasFailure()) {
    fs::remove_all(scratch);
  } else {
    std::cerr << "fidelity: exports kept in " << scratch << "\n";
  }
}

bool haveExporter() { return pst::test::haveTool("pffexport"); }

TEST(Fidelity, EverySampleWithDefaultOptions) {
  if (!haveExporter()) GTEST_SKIP() << "pffexport missing";
  const auto samples = sampleFiles(BRELLIN_SAMPLES_DIR);
  ASSERT_FALSE(samples.empty());
  for (const std::string& path : samples) recoverAndCompare(path, 0);
}

TEST(Fidelity, UnicodeSourceIntoAnsi) {
  if (!haveExporter()) GTEST_SKIP() << "pffexport missing";
  for (const char* name : {"unicode-18-items.ost", "exchange-2010.ost", "unicode-attachments.pst"})
    recoverAndCompare((fs::path(BRELLIN_SAMPLES_DIR) / name).string(), 1);
}

TEST(Fidelity, AnsiSourceIntoUnicode) {
  if (!haveExporter()) GTEST_SKIP() << "pffexport missing";
  recoverAndCompare((fs::path(BRELLIN_SAMPLES_DIR) / "ansi-calendar.pst").string(), 2);
}

}  // namespace
}  // namespace vexl::testing
