// The report on the computer that a saved recovery log can begin with, so
// that the log alone is enough for a support case: program version,
// operating system, folders, memory, environment and drives. The facts are
// gathered first and then written as lines, so the line formats can be
// checked against known facts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "client/local_drives.h"

namespace vexl::client {

// A folder the report names, or the error number of the query that failed.
struct FolderFact {
  std::string path;
  int error = 0;
};

struct DriveFact {
  std::string root;
  DriveType type = DriveType::Unknown;
  std::uint64_t totalBytes = 0;  // fixed drives only
  std::uint64_t freeBytes = 0;
};

struct SystemFacts {
  std::string fileVersion;  // "0.1.0.0"; empty when unknown
  std::string productVersion;
  std::string platformName;  // "Debian GNU/Linux 12 (bookworm) Linux"
  int majorVersion = 0;  // of the kernel: 6.1.12 gives 6, 1, 12
  int minorVersion = 0;
  int buildNumber = 0;
  // The three folders of the report. This system has no Windows folder; the
  // user's home takes its place (on a shared Windows server that line shows
  // the user's private Windows folder too). The system folder is the one the
  // C library is loaded from, the temporary folder ends with "/".
  FolderFact windowsFolder;
  FolderFact systemFolder;
  FolderFact temporaryFolder;
  unsigned memoryLoad = 0;  // percent of physical memory in use
  std::uint64_t totalPhysical = 0;
  std::uint64_t freePhysical = 0;  // available to programs without swapping
  std::uint64_t totalPageFile = 0;  // swap
  std::uint64_t freePageFile = 0;
  std::uint64_t totalVirtual = 0;  // this process's address space
  std::uint64_t freeVirtual = 0;
  std::vector<std::string> environment;  // NAME=value, in the process's order
  std::vector<DriveFact> drives;
};

// Reads the facts of this computer and process. Only fixed drives are asked
// for their sizes.
SystemFacts collectSystemFacts(const std::string& fileVersion, const std::string& productVersion);

// Byte counts as the report prints them: with thousands separators, no
// decimals.
using NumberFormat = std::function<std::string(std::uint64_t)>;
// Groups the digits by the C library's grouping rule ("\3" for threes).
std::string groupDigits(std::uint64_t value, const std::string& separator, const std::string& grouping = "\3");
// Separators and grouping of the user's locale; "," by threes where the
// locale has none.
NumberFormat userLocaleNumbers();

// Appends the report's blocks, from " Version Information:" to the closing
// "End of System Information" between separator lines.
void appendSystemInfo(std::vector<std::string>& lines, const SystemFacts& facts, const NumberFormat& number);

}  // namespace vexl::client
