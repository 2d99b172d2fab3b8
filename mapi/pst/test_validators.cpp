#include "mapi/pst/test_validators.h"

#include <sys/wait.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vexl::pst::test {

CommandResult runCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  std::array<char, 4096> buffer{};
  std::size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool haveTool(const std::string& name) { return runCommand("command -v " + name).status == 0; }

std::string makeTempDir(const std::string& stem) {
  std::string pattern = (std::filesystem::temp_directory_path() / (stem + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) return {};
  return pattern;
}

std::string listTree(const std::string& dir) {
  std::string out;
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir, ec))
    out += e.path().string() + (e.is_directory() ? "/\n" : "\n");
  return out;
}

std::string pffexportProblems(const std::string& path) {
  const std::string dir = makeTempDir("pffexport-check");
  const auto run = runCommand("pffexport -m all -l '" + dir + "/log' -t '" + dir + "/x' '" + path + "'");
  std::ifstream log(dir + "/log");
  std::stringstream all;
  all << run.output << '\n' << log.rdbuf();
  std::string problems = run.status == 0 ? "" : "pffexport failed\n";
  for (std::string line; std::getline(all, line);) {
    std::string lower = line;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("unable") != std::string::npos || lower.find("error") != std::string::npos)
      problems += line + '\n';
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return problems;
}

}  // namespace vexl::pst::test
