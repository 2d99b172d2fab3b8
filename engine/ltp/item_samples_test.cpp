// The item layer on the shared samples against pffexport: the hierarchy
// table of every folder names the folders pffexport exports, every subject
// pffexport prints is a message node's subject; the Japanese sample; the
// item reports.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <functional>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>

#include "engine/core/code_page.h"
#include "engine/ltp/item_report.h"
#include "engine/ltp/node_report.h"
#include "engine/ltp/property_context.h"
#include "engine/ltp/table_context.h"
#include "engine/ndb/test_ndb_file.h"
#include "mapi/mapialloc.h"
#include "mapi/mapitags.h"

namespace vexl::testing {
namespace {

namespace fs = std::filesystem;
using namespace mapi;

struct Export {
  std::set<std::string> folders;
  std::set<std::string> subjects;
};

// pffexport -m all into a temporary directory: folder directory names, and
// the Subject lines of the items' text files.
Export runPffexport(const std::string& path) {
  Export out;
  const fs::path dir = fs::temp_directory_path() / ("ltp-pffexport-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string command = "cd '" + dir.string() + "' && pffexport -q -m all -t x '" + path + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
  // Item directories: letters, then five digits (Message00001).
  auto isItem = [](const std::string& n) {
    if (n.size() < 6) return false;
    const std::size_t digits = n.size() - 5;
    for (std::size_t i = 0; i < n.size(); ++i)
      if (i < digits ? !std::isalpha(static_cast<unsigned char>(n[i])) : !std::isdigit(static_cast<unsigned char>(n[i])))
        return false;
    return true;
  };
  std::function<void(const fs::path&)> walk = [&](const fs::path& p) {
    for (const auto& e : fs::directory_iterator(p)) {
      if (!e.is_directory()) continue;
      const std::string name = e.path().filename().string();
      if (isItem(name)) {
        for (const auto& f : fs::directory_iterator(e.path())) {
          if (!f.is_regular_file() || f.path().extension() != ".txt" || f.path().filename() == "InternetHeaders.txt") continue;
          std::ifstream in(f.path());
          for (std::string line; std::getline(in, line);)
            if (line.rfind("Subject:", 0) == 0) {
              const auto at = line.find_first_not_of('\t', 8);
              if (at != std::string::npos) out.subjects.insert(line.substr(at));
            }
        }
        continue;
      }
      out.folders.insert(name);
      walk(e.path());
    }
  };
  if (fs::exists(dir / "x.export")) walk(dir / "x.export");
  fs::remove_all(dir);
  return out;
}

std::string text(const SPropValue& v) {
  if (PROP_TYPE(v.ulPropTag) == PT_UNICODE) return utf16ToUtf8(std::u16string_view(v.Value.lpszW));
  if (PROP_TYPE(v.ulPropTag) == PT_STRING8) return ansiToUtf8(v.Value.lpszA);
  return {};
}

// PR_SUBJECT with its prefix marker (0x01 and the prefix length) removed.
std::string subject(const NdbNode& node) {
  for (std::uint32_t tag : {PR_SUBJECT_W, PR_SUBJECT_A}) {
    SPropValue* v = nullptr;
    if (getProp(node, tag, v) == 0) continue;
    std::string s = text(*v);
    MAPIFreeBuffer(v);
    if (s.size() >= 2 && s[0] == '\x01') s.erase(0, 2);
    return s;
  }
  return {};
}

TEST(ItemSamples, HierarchyTablesAndSubjectsAgreeWithPffexport) {
  for (const std::string& path : sampleFiles(BRELLIN_SAMPLES_DIR)) {
    SCOPED_TRACE(path);
    const auto nodes = runNodeReport(path, ScanRequest::Variant::Auto);
    ASSERT_TRUE(nodes.has_value());
    ScannedFile f(nodes->variant == 64 ? kUnicodeLayout : kAnsiLayout, readWholeFile(path));
    const Export expected = runPffexport(path);
    std::set<std::string> folders, subjects;
    for (auto& list : f.format().nodeIndex().mutableLists()) {
      NdbNode& node = list.versions.back();
      node.open(CryptMode::Unknown);
      if ((node.nid & 0x1F) == 0x04) subjects.insert(subject(node));
      if ((node.nid & 0x1F) != 0x0D) continue;
      std::vector<std::uint32_t> columns;
      std::vector<SPropValue*> rows;
      ASSERT_EQ(readTable(node, columns, rows), 1) << std::hex << node.nid;
      for (std::size_t c = 0; c < columns.size(); ++c)
        if (PROP_ID(columns[c]) == 0x3001)
          for (const SPropValue* row : rows) {
            // pffexport writes a leading '~' of a folder name as '_'.
            std::string name = text(row[c]);
            if (!name.empty() && name[0] == '~') name[0] = '_';
            folders.insert(name);
          }
      freeRows(rows);
    }
    EXPECT_FALSE(expected.folders.empty());
    for (const std::string& name : expected.folders) EXPECT_TRUE(folders.count(name)) << name;
    for (const std::string& s : expected.subjects) EXPECT_TRUE(subjects.count(s)) << s;
  }
}

TEST(ItemSamples, JapaneseNamesInUtf16AndInCodePage932) {
  const std::string path = (fs::path(BRELLIN_SAMPLES_DIR) / "unicode-japanese-contacts.pst").string();
  ScannedFile f(kUnicodeLayout, readWholeFile(path));
  std::set<std::string> names;
  const std::uint32_t before = systemAnsiCodePage();
  ASSERT_TRUE(setSystemAnsiCodePage(932));
  std::set<std::string> ansi;
  for (auto& list : f.format().nodeIndex().mutableLists()) {
    NdbNode& node = list.versions.back();
    if ((node.nid & 0x1F) != 0x02) continue;
    node.open(CryptMode::Unknown);
    ansi.insert(ansiToUtf8(getDisplayName(node), 932));
  }
  setSystemAnsiCodePage(before);
  for (const char* name : {"削除済みアイテム", "検索ルート", "連絡先 (Contact dedicated)"})
    EXPECT_TRUE(ansi.count(name)) << name;
}

TEST(ItemSamples, ReportsOfTheRootFolder) {
  const std::string path = (fs::path(BRELLIN_SAMPLES_DIR) / "unicode-mailing-list.pst").string();
  const auto props = runPropsReport(path, ScanRequest::Variant::Auto, 0x122);
  ASSERT_TRUE(props.has_value());
  EXPECT_FALSE(props->props.empty());
  const std::string json = formatPropsReportJson(*props);
  EXPECT_NE(json.find("\"type\": \"PT_LONG\""), std::string::npos);
  EXPECT_EQ(json.front(), '[');
  const auto table = runTableReport(path, ScanRequest::Variant::Auto, 0x12D);
  ASSERT_TRUE(table.has_value());
  EXPECT_FALSE(table->rows.empty());
  EXPECT_NE(formatTableReportJson(*table).find("\"tag\": \"0x3001001F\""), std::string::npos);
  EXPECT_NE(formatTableReportText(*table).find("PT_UNICODE"), std::string::npos);
  std::string error;
  EXPECT_FALSE(runTableReport(path, ScanRequest::Variant::Auto, 0x122, &error).has_value());
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(runPropsReport(path, ScanRequest::Variant::Auto, 0x7FFFFFE2, &error).has_value());
}

}  // namespace
}  // namespace vexl::testing
