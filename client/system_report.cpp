#include "client/system_report.h"

#include <dlfcn.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <map>
#include <sstream>

#include "engine/core/engine_api.h"

extern char** environ;

namespace vexl::client {
namespace {

// printf-style formatting of one report line.
template <class... Args>
std::string format(const char* pattern, Args... args) {
  const int size = std::snprintf(nullptr, 0, pattern, args...);
  if (size <= 0) return {};
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  std::snprintf(text.data(), text.size(), pattern, args...);
  text.resize(static_cast<std::size_t>(size));
  return text;
}

// KEY=value lines of an os-release file, quotes removed.
std::map<std::string, std::string> readOsRelease() {
  std::map<std::string, std::string> values;
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(path);
    if (!in) continue;
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t equals = line.find('=');
      if (equals == std::string::npos || line.starts_with('#')) continue;
      std::string value = line.substr(equals + 1);
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
        std::string unescaped;
        for (std::size_t i = 0; i < value.size(); ++i) {
          if (value[i] == '\\' && i + 1 < value.size()) ++i;
          unescaped += value[i];
        }
        value = unescaped;
      }
      values[line.substr(0, equals)] = value;
    }
    break;
  }
  return values;
}

void readOperatingSystem(SystemFacts& facts) {
  const std::map<std::string, std::string> release = readOsRelease();
  std::string distribution;
  if (auto pretty = release.find("PRETTY_NAME"); pretty != release.end()) {
    distribution = pretty->second;
  } else if (auto name = release.find("NAME"); name != release.end()) {
    distribution = name->second;
    if (auto version = release.find("VERSION"); version != release.end()) distribution += ' ' + version->second;
  }
  utsname system{};
  if (uname(&system) != 0) {
    facts.platformName = distribution;
    return;
  }
  facts.platformName = distribution.empty() ? system.sysname : distribution + ' ' + system.sysname;
  // "6.1.0-18-amd64": the first three numbers.
  std::sscanf(system.release, "%d.%d.%d", &facts.majorVersion, &facts.minorVersion, &facts.buildNumber);
}

FolderFact existingFolder(std::string path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {{}, errno};
  if (!S_ISDIR(info.st_mode)) return {{}, ENOTDIR};
  return {std::move(path), 0};
}

FolderFact homeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return existingFolder(home);
  std::array<char, 4096> buffer{};
  passwd entry{};
  passwd* found = nullptr;
  const int error = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
  if (found == nullptr) return {{}, error != 0 ? error : ENOENT};
  return existingFolder(found->pw_dir);
}

// The folder of the C library this program runs on.
FolderFact systemLibraryFolder() {
  Dl_info library{};
  if (dladdr(reinterpret_cast<void*>(&std::snprintf), &library) == 0 || library.dli_fname == nullptr) {
    return {{}, ENOENT};
  }
  std::array<char, PATH_MAX> resolved{};
  if (realpath(library.dli_fname, resolved.data()) == nullptr) return {{}, errno};
  std::string path = resolved.data();
  path.erase(path.rfind('/') == 0 ? 1 : path.rfind('/'));
  return existingFolder(path);
}

FolderFact temporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  FolderFact folder = existingFolder(path);
  if (folder.error == 0 && !folder.path.ends_with('/')) folder.path += '/';
  return folder;
}

// "Name:   123 kB" lines of /proc/meminfo and /proc/self/status, in bytes.
std::map<std::string, std::uint64_t> readKilobyteTable(const char* path) {
  std::map<std::string, std::uint64_t> values;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::istringstream rest(line.substr(colon + 1));
    std::uint64_t number = 0;
    std::string unit;
    if (rest >> number >> unit && unit == "kB") values[line.substr(0, colon)] = number * 1024;
  }
  return values;
}

void readMemory(SystemFacts& facts) {
  auto memory = readKilobyteTable("/proc/meminfo");
  facts.totalPhysical = memory["MemTotal"];
  facts.freePhysical = memory.count("MemAvailable") != 0 ? memory["MemAvailable"] : memory["MemFree"];
  if (facts.freePhysical > facts.totalPhysical) facts.freePhysical = facts.totalPhysical;
  if (facts.totalPhysical != 0) {
    facts.memoryLoad = static_cast<unsigned>((facts.totalPhysical - facts.freePhysical) * 100 / facts.totalPhysical);
  }
  facts.totalPageFile = memory["SwapTotal"];
  facts.freePageFile = memory["SwapFree"];

  // The address space a process may use: its limit when one is set, else the
  // user half of a 48-bit address space (x86-64, the default of arm64).
  rlimit limit{};
  facts.totalVirtual = sizeof(void*) == 8 ? std::uint64_t{1} << 47 : std::uint64_t{3} << 30;
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) facts.totalVirtual = limit.rlim_cur;
  const std::uint64_t used = readKilobyteTable("/proc/self/status")["VmSize"];
  facts.freeVirtual = used < facts.totalVirtual ? facts.totalVirtual - used : 0;
}

}  // namespace

std::string groupDigits(std::uint64_t value, const std::string& separator, const std::string& grouping) {
  const std::string digits = std::to_string(value);
  // Group sizes from the right, as in the C library's grouping string: the
  // last size repeats, 0 or CHAR_MAX ends the grouping.
  std::vector<std::string> groups;
  std::size_t remaining = digits.size();
  std::size_t size = 0;
  for (std::size_t next = 0;;) {
    if (next < grouping.size()) {
      const int g = static_cast<unsigned char>(grouping[next++]);
      if (g <= 0 || g == CHAR_MAX) break;
      size = static_cast<std::size_t>(g);
    }
    if (size == 0 || remaining <= size) break;
    remaining -= size;
    groups.push_back(digits.substr(remaining, size));
  }
  std::string out = digits.substr(0, remaining);
  for (auto group = groups.rbegin(); group != groups.rend(); ++group) out += separator + *group;
  return out;
}

NumberFormat userLocaleNumbers() {
  std::string separator = ",";
  std::string grouping = "\3";
  try {
    const std::locale user("");
    const auto& punct = std::use_facet<std::numpunct<char>>(user);
    if (!punct.grouping().empty()) {
      separator = std::string(1, punct.thousands_sep());
      grouping = punct.grouping();
    }
  } catch (const std::exception&) {
    // A locale the C library does not know: keep the defaults.
  }
  return [separator, grouping](std::uint64_t value) { return groupDigits(value, separator, grouping); };
}

SystemFacts collectSystemFacts(const std::string& fileVersion, const std::string& productVersion) {
  SystemFacts facts;
  facts.fileVersion = fileVersion;
  facts.productVersion = productVersion;
  readOperatingSystem(facts);
  facts.windowsFolder = homeFolder();
  facts.systemFolder = systemLibraryFolder();
  facts.temporaryFolder = temporaryFolder();
  readMemory(facts);
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) facts.environment.emplace_back(*entry);
  for (const MountedDrive& drive : localDrives()) {
    DriveFact fact{drive.root, drive.type};
    struct statvfs space {};
    if (drive.type == DriveType::Fixed && statvfs(drive.root.c_str(), &space) == 0) {
      fact.totalBytes = std::uint64_t{space.f_blocks} * space.f_frsize;
      fact.freeBytes = std::uint64_t{space.f_bavail} * space.f_frsize;
    }
    facts.drives.push_back(std::move(fact));
  }
  return facts;
}

void appendSystemInfo(std::vector<std::string>& lines, const SystemFacts& facts, const NumberFormat& number) {
  const std::string separator = kSeparatorLine;
  lines.push_back(" Version Information:");
  lines.push_back("File Version: " + facts.fileVersion);
  lines.push_back("Product Version: " + facts.productVersion);
  lines.push_back(separator);

  lines.push_back(format("Operating System: %s %d.%.2d.%d", facts.platformName.c_str(), facts.majorVersion,
                         facts.minorVersion, facts.buildNumber));
  lines.push_back(separator);

  const auto folderLine = [&](const char* prompt, const FolderFact& folder) {
    lines.push_back(prompt + (folder.error == 0
                                  ? folder.path
                                  : format("Cannot get the required infomation. Error Code: %d.", folder.error)));
  };
  folderLine("Windows Directory: ", facts.windowsFolder);
  folderLine("System Directory: ", facts.systemFolder);
  folderLine("Temporary Directory: ", facts.temporaryFolder);
  lines.push_back(separator);

  lines.push_back("Memory Status:");
  lines.push_back(format("Memory in use: %u%%", facts.memoryLoad));
  lines.push_back("Total physical memory: " + number(facts.totalPhysical) + " bytes");
  lines.push_back("Free physical memory: " + number(facts.freePhysical) + " bytes");
  lines.push_back("Total page file memory: " + number(facts.totalPageFile) + " bytes");
  lines.push_back("Free page file memory: " + number(facts.freePageFile) + " bytes");
  lines.push_back("Total virtual memory: " + number(facts.totalVirtual) + " bytes");
  lines.push_back("Free virtual memory: " + number(facts.freeVirtual) + " bytes");
  lines.push_back(separator);

  lines.push_back("Environment Information:");
  lines.insert(lines.end(), facts.environment.begin(), facts.environment.end());
  lines.push_back(separator);

  lines.push_back("Drive Information:");
  for (const DriveFact& drive : facts.drives) {
    std::string line = drive.root + ", " + driveTypeName(drive.type);
    if (drive.type == DriveType::Fixed) {
      line += ", Total Disk Spaces: " + number(drive.totalBytes) + " bytes, Free Disk Spaces: " +
              number(drive.freeBytes) + " bytes.";
    }
    lines.push_back(std::move(line));
  }
  lines.push_back(separator);
  lines.push_back("End of System Information");
  lines.push_back(separator);
}

}  // namespace vexl::client
