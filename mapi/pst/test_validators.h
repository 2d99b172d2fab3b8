// Test support: runs the public [MS-PST] readers on a file we wrote.
#pragma once

#include <string>

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

}  // namespace vexl::pst::test
