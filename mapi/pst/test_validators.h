// Test support: runs the public [MS-PST] readers on a file we wrote.
#pragma once

#include <string>
#include <vector>

namespace vexl::pst::test {

struct CommandResult {
  int status = -1;  // exit status, -1 when the command did not run or died
  std::string output;  // stdout and stderr together
};

CommandResult runCommand(const std::string& command);
bool haveTool(const std::string& name);
// A fresh empty directory under the system temporary directory.
std::string makeTempDir(const std::string& stem);
// Every regular file under `dir`, recursively, as paths.
std::string listTree(const std::string& dir);
// pffexport -m all of `path` into a temporary directory, the recovery scan
// of free space included: every line of its output and log that reports a
// failure ("unable", "error"), empty when there is none. "pffexport failed"
// when it did not exit with 0.
std::string pffexportProblems(const std::string& path);

// pst-extractor (a Unicode PST reader in JavaScript, installed by
// tools/install-deps) walking a file: each folder's path below the root
// folder ("/"-separated names, "" for the root) with its item and
// attachment counts. `skipped` says why it did not run (node or the package
// missing); `problem` that it ran and could not read the file.
struct PstExtractorFolder {
  std::string path;
  int items = 0;
  int attachments = 0;
};
struct PstExtractorWalk {
  std::string skipped;
  std::string problem;
  std::vector<PstExtractorFolder> folders;
  int items = 0;
  int attachments = 0;
  int errors = 0;  // items or attachments it could not read
  const PstExtractorFolder* find(const std::string& path) const;
};
PstExtractorWalk pstExtractorWalk(const std::string& path);

}  // namespace vexl::pst::test
