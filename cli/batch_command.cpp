#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/recovery_run.h"
#include "engine/core/json.h"
#include "engine/core/path_names.h"

namespace vexl::cli {
namespace {

constexpr const char* kBatchUsageHead =
    "Usage: vexl batch SOURCE... [--output-dir DIR] [--overwrite|--skip-existing]\n"
    "                  [options] [--json]\n"
    "\n"
    "Recovers each SOURCE into its own new PST file, one after another, with one\n"
    "set of options. A target is named after its source (\"_recovered.pst\" in place\n"
    "of the extension), beside it or in DIR. A target that exists already is an\n"
    "error for its file unless --overwrite or --skip-existing says what to do.\n"
    "Each file gets a status: Successful, Failed, Aborted (stopped by Ctrl-C) or\n"
    "Not Recovered (skipped, refused, or not reached after a stop).\n"
    "\n"
    "  --output-dir DIR        write the targets into DIR\n"
    "  --overwrite             replace targets that exist\n"
    "  --skip-existing         leave files whose target exists\n";

void printUsage(std::FILE* out) { printRunCommandUsage(out, kBatchUsageHead); }

int usageError(const std::string& message) { return runCommandUsageError("batch", kBatchUsageHead, message); }

struct Row {
  std::string source;
  std::string target;
  std::string status = "Not Recovered";
  std::string note;  // why a file was not recovered, when it was not tried
  RunOutcome outcome;
};

}  // namespace

int batchCommand(std::span<const std::string_view> args) {
  std::vector<Row> rows;
  std::string outputDir;
  bool overwrite = false;
  bool skipExisting = false;
  RunSettings settings;

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::string error;
    if (arg == "-h" || arg == "--help") {
      printUsage(stdout);
      return 0;
    } else if (arg == "--output-dir") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return usageError("--output-dir needs a folder");
      outputDir = args[++i];
    } else if (arg == "--overwrite") {
      overwrite = true;
    } else if (arg == "--skip-existing") {
      skipExisting = true;
    } else if (OptionParse parse = parseRunOption(args, i, settings, error); parse != OptionParse::NotMine) {
      if (parse == OptionParse::Error) return usageError(error);
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return usageError("unknown option " + std::string(arg));
    } else {
      rows.emplace_back().source = arg;
    }
  }
  if (rows.empty()) return usageError("no source file given");
  if (overwrite && skipExisting) return usageError("--overwrite and --skip-existing exclude each other");
  if (!outputDir.empty() && !std::filesystem::is_directory(outputDir)) {
    std::fprintf(stderr, "vexl batch: the folder %s does not exist\n", outputDir.c_str());
    return kExitNothingRecovered;
  }
  std::vector<std::string> sources, targets;
  for (Row& row : rows) {
    row.target = makeTargetName(row.source);
    if (!outputDir.empty())
      row.target = (std::filesystem::path(outputDir) / std::filesystem::path(row.target).filename()).string();
    sources.push_back(row.source);
    targets.push_back(row.target);
  }
  if (!settings.logPath.empty()) {
    if (std::string problem = checkLogFile(settings.logPath, sources, targets); !problem.empty()) {
      std::fprintf(stderr, "vexl batch: %s\n", problem.c_str());
      return kExitNothingRecovered;
    }
  }

  installStopHandlers();
  RunEvents events(settings);
  int successful = 0;
  for (std::size_t i = 0; i < rows.size() && !stopRequested(); ++i) {
    Row& row = rows[i];
    const auto earlier = std::find_if(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(i), [&](const Row& other) {
      return std::any_of(other.outcome.targets.begin(), other.outcome.targets.end(),
                         [&](const std::string& written) { return sameFile(written, row.target); });
    });
    if (std::string problem = checkSourceAndTarget(row.source, row.target); !problem.empty()) {
      row.note = problem;
    } else if (earlier != rows.begin() + static_cast<std::ptrdiff_t>(i)) {
      // Even --overwrite keeps what this batch recovered.
      row.note = row.target + " holds what this batch recovered from " + earlier->source;
    } else if (std::filesystem::exists(row.target) && !overwrite) {
      row.note = skipExisting ? "skipped: " + row.target + " exists"
                              : row.target + " exists (--overwrite replaces it, --skip-existing leaves it)";
    }
    if (!row.note.empty()) {
      if (!settings.json) std::fprintf(stderr, "vexl batch: %s: %s\n", row.source.c_str(), row.note.c_str());
      continue;
    }
    const std::string label = "[" + std::to_string(i + 1) + "/" + std::to_string(rows.size()) + "] " +
                              std::filesystem::path(row.source).filename().string();
    row.outcome = runRecoveryLogged(row.source, row.target, settings, events, label);
    if (row.outcome.result == 1) {
      row.status = "Successful";
      ++successful;
    } else {
      row.status = row.outcome.stopped ? "Aborted" : "Failed";
    }
  }
  const bool logSaved = events.saveLog(settings);
  const std::string summary = std::to_string(successful) + " file(s) recovered successfully";

  if (settings.json) {
    std::string out = "{\"files\": [";
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Row& row = rows[i];
      out += (i ? ", " : "");
      out += "{\"source\": " + jsonString(row.source) + ", \"target\": " + jsonString(row.target) +
             ", \"status\": " + jsonString(row.status) + ", \"recovered\": " + std::to_string(row.outcome.recovered) +
             ", \"targets\": [";
      for (std::size_t t = 0; t < row.outcome.targets.size(); ++t)
        out += (t ? ", " : "") + jsonString(row.outcome.targets[t]);
      out += "], \"note\": " + jsonString(row.note) + "}";
    }
    out += "], \"successful\": " + std::to_string(successful) +
           ", \"stopped\": " + (stopRequested() ? "true" : "false") + ", \"summary\": " + jsonString(summary) + "}\n";
    std::fputs(out.c_str(), stdout);
  } else {
    std::printf("%s\n", kSeparatorLine);
    for (const Row& row : rows) std::printf("%-13s  %s -> %s\n", row.status.c_str(), row.source.c_str(), row.target.c_str());
    if (stopRequested()) std::printf("Stopped by the user.\n");
    std::printf("%s\n", summary.c_str());
  }
  if (stopRequested()) return kExitStopped;
  if (!logSaved) return kExitNothingRecovered;
  return successful == static_cast<int>(rows.size()) ? kExitRecovered : kExitNothingRecovered;
}

}  // namespace vexl::cli
