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

namespace {

#ifndef BRELLIN_SOURCE_DIR
#define BRELLIN_SOURCE_DIR "."
#endif
const std::string kPstValidatorDir = std::string(BRELLIN_SOURCE_DIR) + "/tools/pst-validator";

// The walker's one JSON line: reads a quoted string or an integer after
// `"key":` from `at` on; `at` moves past it.
bool readString(const std::string& json, std::size_t& at, std::string& out) {
  if (at >= json.size() || json[at] != '"') return false;
  out.clear();
  for (++at; at < json.size() && json[at] != '"'; ++at) {
    if (json[at] != '\\') {
      out += json[at];
      continue;
    }
    if (++at >= json.size()) return false;
    const char c = json[at];
    if (c == 'u' && at + 4 < json.size()) {
      out += static_cast<char>(std::stoi(json.substr(at + 1, 4), nullptr, 16));  // only control characters
      at += 4;
    } else {
      out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
  }
  return at++ < json.size();
}
bool readField(const std::string& json, std::size_t& at, const std::string& key, std::string* text, int* number) {
  const std::string label = "\"" + key + "\":";
  if (json.compare(at, label.size(), label) != 0) return false;
  at += label.size();
  if (text) return readString(json, at, *text);
  std::size_t used = 0;
  try {
    *number = std::stoi(json.substr(at, 12), &used);
  } catch (...) {
    return false;
  }
  at += used;
  return true;
}
bool skip(const std::string& json, std::size_t& at, char c) {
  if (at >= json.size() || json[at] != c) return false;
  ++at;
  return true;
}

}  // namespace

const PstExtractorFolder* PstExtractorWalk::find(const std::string& path) const {
  for (const auto& f : folders)
    if (f.path == path) return &f;
  return nullptr;
}

PstExtractorWalk pstExtractorWalk(const std::string& path) {
  PstExtractorWalk walk;
  if (!haveTool("node")) {
    walk.skipped = "node is not installed (tools/install-deps installs it)";
    return walk;
  }
  if (!std::filesystem::exists(kPstValidatorDir + "/node_modules/pst-extractor")) {
    walk.skipped = "pst-extractor is not installed in " + kPstValidatorDir + " (run tools/install-deps)";
    return walk;
  }
  // It loops for ever on some malformed tables, hence the time limit.
  const auto run = runCommand("timeout 300 node '" + kPstValidatorDir + "/walk.js' '" + path + "'");
  // Its own warnings come on lines of their own; the result is one line.
  std::string json;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("{\"folders\":")) json = line;
  if (run.status != 0 || json.empty()) {
    walk.problem = "pst-extractor failed (status " + std::to_string(run.status) + "): " + run.output;
    return walk;
  }
  std::size_t at = std::string("{\"folders\":[").size();
  while (at < json.size() && json[at] == '{') {
    PstExtractorFolder f;
    int errors = 0;
    ++at;
    if (!readField(json, at, "path", &f.path, nullptr) || !skip(json, at, ',') ||
        !readField(json, at, "items", nullptr, &f.items) || !skip(json, at, ',') ||
        !readField(json, at, "attachments", nullptr, &f.attachments) || !skip(json, at, ',') ||
        !readField(json, at, "errors", nullptr, &errors) || !skip(json, at, '}')) {
      walk.problem = "unexpected output of walk.js: " + json;
      return walk;
    }
    walk.items += f.items;
    walk.attachments += f.attachments;
    walk.errors += errors;
    walk.folders.push_back(std::move(f));
    skip(json, at, ',');
  }
  return walk;
}

}  // namespace vexl::pst::test
