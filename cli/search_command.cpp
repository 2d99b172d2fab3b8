#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "client/file_search.h"
#include "client/local_drives.h"
#include "engine/core/json.h"

namespace vexl::cli {
namespace {

constexpr const char* kSearchUsage =
    "Usage: vexl search [DIR...] [--name MASKS] [--min-size KB] [--max-size KB]\n"
    "                   [--modified-days N] [--no-recurse] [--json]\n"
    "\n"
    "Looks for offline storage files (*.ost) under each DIR and its subfolders;\n"
    "without DIR, on every local fixed file system, each searched by itself.\n"
    "Names match in either letter case. Prints one line per file: size in bytes,\n"
    "last modification time and path.\n"
    "\n"
    "  --name MASKS            file-name masks separated by \";\" (default *.ost)\n"
    "  --min-size KB           files of at least KB kilobytes\n"
    "  --max-size KB           files of at most KB kilobytes\n"
    "  --modified-days N       files modified in the last N days\n"
    "  --no-recurse            only the files directly in each DIR\n"
    "  --json                  an array of objects with the keys path, size, created,\n"
    "                          accessed, modified (seconds since 1970)\n"
    "  -h, --help              show this help\n";

constexpr const char* kDefaultMask = "*.ost";
constexpr unsigned long long kMaxKilobytes = 1073741824;  // the window's spin box limit
constexpr unsigned long long kMaxDays = 999;

int usageError(const std::string& message) {
  std::fprintf(stderr, "vexl search: %s\n\n%s", message.c_str(), kSearchUsage);
  return kExitUsage;
}

bool parseNumber(std::string_view text, unsigned long long limit, unsigned long long& out) {
  std::string copy(text);
  if (copy.empty() || copy.front() < '0' || copy.front() > '9') return false;
  char* end = nullptr;
  out = std::strtoull(copy.c_str(), &end, 10);
  return *end == '\0' && out <= limit;
}

long long epochSeconds(client::FileTime time) {
  return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

std::string localTimeText(client::FileTime time) {
  const std::time_t seconds = static_cast<std::time_t>(epochSeconds(time));
  std::tm parts{};
  ::localtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

class PrintedResults final : public client::SearchEvents {
 public:
  explicit PrintedResults(bool json) : json_(json) {}

  void found(const client::FoundFile& file) override {
    const std::string path = file.folder + file.name;
    if (json_) {
      out_ += (count_ ? ", " : "") + std::string("{\"path\": ") + jsonString(path) +
              ", \"size\": " + std::to_string(file.size) + ", \"created\": " + std::to_string(epochSeconds(file.created)) +
              ", \"accessed\": " + std::to_string(epochSeconds(file.lastAccessed)) +
              ", \"modified\": " + std::to_string(epochSeconds(file.lastModified)) + "}";
    } else {
      std::printf("%12llu  %s  %s\n", static_cast<unsigned long long>(file.size),
                  localTimeText(file.lastModified).c_str(), path.c_str());
      std::fflush(stdout);
    }
    ++count_;
  }

  void finish() {
    if (json_) std::printf("[%s]\n", out_.c_str());
    else std::fprintf(stderr, "%d file(s) found\n", count_);
  }

 private:
  bool json_;
  int count_ = 0;
  std::string out_;
};

}  // namespace

int searchCommand(std::span<const std::string_view> args) {
  client::SearchCriteria criteria;
  std::string masks = kDefaultMask;
  bool json = false;
  std::optional<unsigned long long> modifiedDays;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const bool hasValue = i + 1 < args.size();
    unsigned long long number = 0;
    if (arg == "-h" || arg == "--help") {
      std::fputs(kSearchUsage, stdout);
      return 0;
    } else if (arg == "--name") {
      if (!hasValue || client::splitSearchList(args[i + 1]).empty()) return usageError("--name needs masks such as *.ost");
      masks = args[++i];
    } else if (arg == "--min-size") {
      if (!hasValue || !parseNumber(args[++i], kMaxKilobytes, number))
        return usageError("--min-size needs 0 to 1073741824 (KB)");
      criteria.minSize = number * 1024;
    } else if (arg == "--max-size") {
      if (!hasValue || !parseNumber(args[++i], kMaxKilobytes, number))
        return usageError("--max-size needs 0 to 1073741824 (KB)");
      criteria.maxSize = number * 1024;
    } else if (arg == "--modified-days") {
      if (!hasValue || !parseNumber(args[++i], kMaxDays, number)) return usageError("--modified-days needs 0 to 999");
      modifiedDays = number;
    } else if (arg == "--no-recurse") {
      criteria.recurse = false;
    } else if (arg == "--json") {
      json = true;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return usageError("unknown option " + std::string(arg));
    } else {
      criteria.folders.emplace_back(arg);
    }
  }
  if (criteria.maxSize != 0 && criteria.minSize > criteria.maxSize)
    return usageError("--min-size is larger than --max-size");
  criteria.masks = client::splitSearchList(masks);
  if (modifiedDays) {
    // Whole 24-hour spans back from now, as the search window counts them.
    criteria.modifiedNotBefore =
        std::chrono::system_clock::now() - std::chrono::hours(24) * static_cast<long long>(*modifiedDays);
  }
  for (const std::string& folder : criteria.folders) {
    if (!std::filesystem::is_directory(folder)) {
      std::fprintf(stderr, "vexl search: %s is not a folder\n", folder.c_str());
      return kExitNothingRecovered;
    }
  }
  if (criteria.folders.empty()) {
    criteria.folders = client::splitSearchList(client::fixedDriveList(client::localDrives()));
    criteria.stayOnFileSystem = true;
  }

  PrintedResults results(json);
  client::FileSearch search;
  search.run(criteria, results);
  results.finish();
  return 0;
}

}  // namespace vexl::cli
