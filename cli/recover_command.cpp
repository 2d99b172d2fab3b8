#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/recovery_run.h"
#include "engine/core/json.h"
#include "engine/core/path_names.h"

namespace vexl::cli {
namespace {

constexpr const char* kRecoverUsageHead =
    "Usage: vexl recover SOURCE [-o TARGET] [options] [--json]\n"
    "\n"
    "Scans SOURCE for every surviving structure and writes what it finds into the\n"
    "new PST file TARGET (an existing file of that name is replaced; the source\n"
    "itself never is). The source is only read, never changed. TARGET defaults to\n"
    "SOURCE's name with \"_recovered.pst\" in place of its extension.\n"
    "\n"
    "The progress goes to standard error (a bar on a terminal), the log to\n"
    "standard output or the --log file. Ctrl-C stops the run: the message being\n"
    "written is finished, the file closed whole, and the exit status is 130.\n"
    "\n"
    "  -o, --output TARGET     the PST file to create\n";

void printUsage(std::FILE* out) { printRunCommandUsage(out, kRecoverUsageHead); }

int usageError(const std::string& message) { return runCommandUsageError("recover", kRecoverUsageHead, message); }

}  // namespace

int recoverCommand(std::span<const std::string_view> args) {
  std::string source;
  std::string target;
  RunSettings settings;

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::string error;
    if (arg == "-h" || arg == "--help") {
      printUsage(stdout);
      return 0;
    } else if (arg == "-o" || arg == "--output") {
      if (i + 1 >= args.size()) return usageError("-o needs a file name");
      target = args[++i];
    } else if (OptionParse parse = parseRunOption(args, i, settings, error); parse != OptionParse::NotMine) {
      if (parse == OptionParse::Error) return usageError(error);
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return usageError("unknown option " + std::string(arg));
    } else if (source.empty()) {
      source = arg;
    } else {
      return usageError("more than one source file given");
    }
  }
  if (source.empty()) return usageError("no source file given");
  if (target.empty()) target = makeTargetName(source);
  std::string problem = checkSourceAndTarget(source, target);
  if (problem.empty() && !settings.logPath.empty()) {
    const std::string files[] = {source, target};
    problem = checkLogFile(settings.logPath, std::span(files, 1), std::span(files + 1, 1));
  }
  if (!problem.empty()) {
    std::fprintf(stderr, "vexl recover: %s\n", problem.c_str());
    return kExitNothingRecovered;
  }

  installStopHandlers();
  RunEvents events(settings);
  const RunOutcome outcome = runRecoveryLogged(source, target, settings, events);
  const bool logSaved = events.saveLog(settings);

  if (settings.json) {
    std::string out = "{\"recovered\": " + std::to_string(outcome.recovered) +
                      ", \"result\": " + std::to_string(outcome.result) +
                      ", \"stopped\": " + (outcome.stopped ? "true" : "false") + ", \"seconds\": ";
    char number[32];
    std::snprintf(number, sizeof number, "%.3f", static_cast<double>(outcome.elapsed.count()) / 1000.0);
    out += number;
    out += ", \"targets\": [";
    for (std::size_t i = 0; i < outcome.targets.size(); ++i) out += (i ? ", " : "") + jsonString(outcome.targets[i]);
    out += "], \"log_lines\": [";
    for (std::size_t i = 0; i < events.logLines().size(); ++i) out += (i ? ", " : "") + jsonString(events.logLines()[i]);
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
  } else {
    if (outcome.stopped) std::printf("Stopped by the user.\n");
    std::printf("%d item(s) recovered.\n", outcome.recovered);
    for (const std::string& path : outcome.targets) std::printf("Written: %s\n", path.c_str());
  }
  if (outcome.stopped) return kExitStopped;
  if (!logSaved) return kExitNothingRecovered;
  return outcome.result == 1 ? kExitRecovered : kExitNothingRecovered;
}

}  // namespace vexl::cli
