#include "cli/recovery_run.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "cli/cli.h"
#include "client/log_file.h"
#include "client/system_report.h"
#include "engine/core/code_page.h"

#ifndef BRELLIN_VERSION
#define BRELLIN_VERSION "0.0.0"
#endif

namespace vexl::cli {

const char* const kRunOptionsHelp =
    "  --src-format F          auto (default), ansi or unicode: the source's variant\n"
    "  --dst-format F          unicode (default), ansi or auto. auto asks the installed\n"
    "                          Outlook for its version; there is none here, so auto\n"
    "                          writes ANSI (the Outlook 97-2002 format)\n"
    "  --no-fast               scan every byte, also inside the structures found\n"
    "  --heuristic-root        take the first folder that is its own parent as the root\n"
    "  --no-unattached         leave out attachments that no attachment table lists\n"
    "  --split MB              continue in split files once a file passes MB megabytes\n"
    "                          (1 to 32767)\n"
    "  --keep-zero             keep data blocks that are all zero bytes\n"
    "  --no-ipm-subtree        put the recovered folders under the root folder, not\n"
    "                          under the interpersonal message root\n"
    "  --remove-empty          remove folders that received nothing\n"
    "  --batch-props           write the properties of an object in one call\n"
    "  --levels LIST           lost-and-found passes to run, e.g. 1,2,5 or none\n"
    "                          (default 1,2,3,4,5)\n"
    "  --personal              the source is a personal folders file, not an offline\n"
    "                          one (names the store \"Recovered Personal Folder\")\n"
    "  --log FILE              write the log to FILE (ANSI text, CR LF lines) instead\n"
    "                          of standard output\n"
    "  --system-info           begin the log file with the report on this computer\n"
    "  -q, --quiet             no progress display\n"
    "  --json                  print one summary object instead of the log (and no\n"
    "                          progress lines when standard error is no terminal)\n";

void printRunCommandUsage(std::FILE* out, const char* head) {
  std::fputs(head, out);
  std::fputs(kRunOptionsHelp, out);
  std::fputs("  -h, --help              show this help\n", out);
}

int runCommandUsageError(const char* command, const char* head, const std::string& message) {
  std::fprintf(stderr, "vexl %s: %s\n\n", command, message.c_str());
  printRunCommandUsage(stderr, head);
  return kExitUsage;
}

namespace {

constexpr std::int32_t kOn = -1;
constexpr const char* kSplitLinePrefix = "Current file size exceeds the limit. Create split file '";
constexpr const char* kMessageLinePrefix = "Recover message '";
constexpr int kWritingPercent = 70;  // the engine's progress once the indexes are rebuilt

volatile std::sig_atomic_t gStop = 0;

extern "C" void onStopSignal(int signal) {
  if (gStop != 0) {
    // The second request: end now, as the signal would without a handler.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  gStop = 1;
}

// auto, ansi, unicode as the format lists' item indexes.
bool parseFormat(std::string_view text, std::uint8_t& out) {
  if (text == "auto") out = 0;
  else if (text == "ansi") out = 1;
  else if (text == "unicode") out = 2;
  else return false;
  return true;
}

// EngineOptions is packed: its fields are set by value, never through a
// pointer or reference (they are not aligned).
bool parseLevels(std::string_view text, EngineOptions& options) {
  bool on[5] = {false, false, false, false, false};
  if (text != "none" && !text.empty()) {
    if (text.back() == ',') return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      char c = text[i];
      if (c < '1' || c > '5' || (i + 1 < text.size() && text[i + 1] != ',')) return false;
      on[c - '1'] = true;
      ++i;  // the comma
    }
  }
  options.Level1Recovery = on[0] ? kOn : 0;
  options.Level2Recovery = on[1] ? kOn : 0;
  options.Level3Recovery = on[2] ? kOn : 0;
  options.Level4Recovery = on[3] ? kOn : 0;
  options.Level5Recovery = on[4] ? kOn : 0;
  return true;
}

// The split limit in megabytes, 1 to 32767; 0 when the text is not one.
std::int32_t parseSplit(std::string_view text) {
  std::string copy(text);
  char* end = nullptr;
  long value = std::strtol(copy.c_str(), &end, 10);
  if (copy.empty() || *end != '\0' || value < 1 || value > 32767) return 0;
  return static_cast<std::int32_t>(value);
}

std::string elapsedText(std::chrono::steady_clock::duration elapsed) {
  const long seconds = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
  char text[32];
  std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

OptionParse parseRunOption(std::span<const std::string_view> args, std::size_t& i, RunSettings& settings,
                           std::string& error) {
  const std::string_view arg = args[i];
  std::string_view v;
  auto value = [&] {
    if (i + 1 >= args.size()) return false;
    v = args[++i];
    return true;
  };
  auto fail = [&](const char* message) {
    error = message;
    return OptionParse::Error;
  };
  EngineOptions& options = settings.options;
  if (arg == "--src-format") {
    if (!value() || !parseFormat(v, options.SrcFormat)) return fail("--src-format needs auto, ansi or unicode");
  } else if (arg == "--dst-format") {
    if (!value() || !parseFormat(v, options.DstFormat)) return fail("--dst-format needs auto, ansi or unicode");
  } else if (arg == "--no-fast") {
    options.FastRecovery = 0;
  } else if (arg == "--heuristic-root") {
    options.HeuristicRecoverRoot = kOn;
  } else if (arg == "--no-unattached") {
    options.RecoverUnattchedAttach = 0;
  } else if (arg == "--split") {
    const std::int32_t megabytes = value() ? parseSplit(v) : 0;
    if (megabytes == 0) return fail("--split needs 1 to 32767 (MB)");
    options.PSTFileSizeLimit = megabytes;
    options.SplitOversizePST = kOn;
  } else if (arg == "--keep-zero") {
    options.IgnoreZeroBlock = 0;
  } else if (arg == "--no-ipm-subtree") {
    options.AlwaysIPMSubtree = 0;
  } else if (arg == "--remove-empty") {
    options.RemoveEmptyFolder = kOn;
  } else if (arg == "--batch-props") {
    options.RecoverMultiPropInBatch = kOn;
  } else if (arg == "--levels") {
    if (!value() || !parseLevels(v, options)) return fail("--levels needs a list such as 1,2,5 or none");
  } else if (arg == "--personal") {
    options.SourceKind = 0;
  } else if (arg == "--log") {
    if (!value() || v.empty()) return fail("--log needs a file name");
    settings.logPath = v;
  } else if (arg == "--system-info") {
    settings.systemInfo = true;
  } else if (arg == "-q" || arg == "--quiet") {
    settings.quiet = true;
  } else if (arg == "--json") {
    settings.json = true;
  } else {
    return OptionParse::NotMine;
  }
  return OptionParse::Taken;
}

std::string checkOutputFile(const std::string& path) {
  struct stat fileStat{};
  if (::stat(path.c_str(), &fileStat) == 0 && S_ISDIR(fileStat.st_mode)) return path + " is a folder, not a file";
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  struct stat folderStat{};
  if (::stat(folder.c_str(), &folderStat) != 0) return "the folder " + folder + " does not exist";
  if (!S_ISDIR(folderStat.st_mode)) return folder + " is not a folder";
  if (::access(folder.c_str(), W_OK | X_OK) != 0)
    return "the folder " + folder + " cannot be written (" + std::strerror(errno) + ")";
  return {};
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat aStat{};
  struct stat bStat{};
  // The same device and inode: the same file, whatever links lead to it.
  if (::stat(a.c_str(), &aStat) == 0 && ::stat(b.c_str(), &bStat) == 0)
    return aStat.st_dev == bStat.st_dev && aStat.st_ino == bStat.st_ino;
  std::error_code error;
  const std::filesystem::path canonicalA = std::filesystem::weakly_canonical(a, error);
  if (error) return false;
  const std::filesystem::path canonicalB = std::filesystem::weakly_canonical(b, error);
  return !error && canonicalA == canonicalB;
}

std::string checkSourceAndTarget(const std::string& source, const std::string& target) {
  struct stat sourceStat{};
  if (::stat(source.c_str(), &sourceStat) == 0 && S_ISDIR(sourceStat.st_mode)) return source + " is a folder, not a file";
  if (sameFile(source, target)) return target + " is the source file itself; the source is never overwritten";
  return checkOutputFile(target);
}

std::string checkLogFile(const std::string& logPath, std::span<const std::string> sources,
                         std::span<const std::string> targets) {
  for (const std::string& source : sources) {
    if (sameFile(source, logPath)) return "the log file " + logPath + " is the source file " + source;
  }
  for (const std::string& target : targets) {
    if (sameFile(target, logPath)) return "the log file " + logPath + " is the target file " + target;
  }
  return checkOutputFile(logPath);
}

RunOutcome runRecoveryLogged(const std::string& source, const std::string& target, const RunSettings& settings,
                             RunEvents& events, const std::string& label) {
  const client::NumberFormat number = client::userLocaleNumbers();
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(source, error);
  events.logLine("Start recovery process ...");
  events.logLine(kSeparatorLine);
  events.logLine("File to be recovered: '" + source + "'; File size = " + number(error ? 0 : size) + " bytes");
  events.logLine("Output recovered file as: '" + target + "'");
  events.logLine(kSeparatorLine);

  events.beginRun(target, label);
  const auto started = std::chrono::steady_clock::now();
  RunOutcome outcome;
  outcome.result = client::runRecovery(source, settings.options, target, &events);
  outcome.elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  events.endRun();
  outcome.stopped = stopRequested();
  outcome.recovered = events.recovered();
  outcome.targets = writtenTargets(target, events);

  events.logLine(kSeparatorLine);
  events.logLine(consumedTimeText(outcome.elapsed));
  events.logLine(kSeparatorLine);
  events.logLine("Recovery process completes.");
  events.logLine(kSeparatorLine);
  if (outcome.stopped) {
    events.logLine("User aborts the recovery process");
  } else if (outcome.result != 1) {
    events.logLine("Fail to recover file '" + source + "'!");
  } else {
    events.logLine(std::to_string(outcome.recovered) + " item(s) of the source file '" + source +
                   "' recovered. Normally recovered items are in their original folders, lost-and-found items in "
                   "folders named Recovered_Group followed by a number.");
  }
  return outcome;
}

void installStopHandlers() {
  struct sigaction action{};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool stopRequested() { return gStop != 0; }

std::string consumedTimeText(std::chrono::milliseconds elapsed) {
  const long long ms = elapsed.count();
  char text[128];
  std::snprintf(text, sizeof text, "Consumed time: %lld hour(s) %lld minute(s) %lld second(s) %lld millisecond(s).",
                ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return text;
}

RunEvents::RunEvents(const RunSettings& settings)
    : json_(settings.json),
      logToStdout_(!settings.json && settings.logPath.empty()),
      stdoutIsTerminal_(::isatty(STDOUT_FILENO) == 1),
      bar_(!settings.quiet && ::isatty(STDERR_FILENO) == 1),
      // A script that asks for JSON reads no progress lines.
      lines_(!settings.quiet && !bar_ && !settings.json) {}

RunEvents::~RunEvents() { clearProgress(); }

void RunEvents::beginRun(const std::string& target, const std::string& label) {
  label_ = label;
  started_ = std::chrono::steady_clock::now();
  lastDraw_ = {};
  percent_ = 0;
  shownPercent_ = -1;
  written_ = 0;
  currentTarget_ = target;
  recovered_ = 0;
  splitTargets_.clear();
  lastError_.clear();
}

void RunEvents::endRun() {
  clearProgress();
  percent_ = -1;
}

std::string RunEvents::phaseText() const {
  std::string phase;
  if (stopSeen_) phase = "stopping; ";
  if (percent_ >= 100) phase += "finished";
  else if (percent_ < kWritingPercent) phase += "scanning the source";
  else phase += "writing " + fileName(currentTarget_) + ", " + std::to_string(written_) + " message(s)";
  return label_.empty() ? phase : label_ + "  " + phase;
}

void RunEvents::drawProgress(bool force) {
  if (percent_ < 0 || (!bar_ && !lines_)) return;
  const auto now = std::chrono::steady_clock::now();
  const std::string elapsed = elapsedText(now - started_);
  if (lines_) {
    // One line per change of the value, and one when the writing starts.
    if (!force && percent_ == shownPercent_) return;
    shownPercent_ = percent_;
    std::fflush(stdout);
    std::fprintf(stderr, "%3d%%  %s  %s\n", percent_, elapsed.c_str(), phaseText().c_str());
    return;
  }
  if (!force && percent_ == shownPercent_ && now - lastDraw_ < std::chrono::milliseconds(200)) return;
  shownPercent_ = percent_;
  lastDraw_ = now;
  constexpr int kWidth = 30;
  const int filled = percent_ * kWidth / 100;
  std::string line = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] ";
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", percent_);
  line += percent + ("  " + elapsed + "  " + phaseText());
  // A line that wrapped could not be redrawn in place.
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 && line.size() > size.ws_col)
    line.resize(size.ws_col);
  std::fflush(stdout);
  std::fputs((line + "\033[K").c_str(), stderr);
  std::fflush(stderr);
  barVisible_ = true;
}

void RunEvents::clearProgress() {
  if (!barVisible_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  barVisible_ = false;
}

void RunEvents::logLine(const std::string& text) {
  if (logToStdout_) {
    if (stdoutIsTerminal_) clearProgress();
    std::puts(text.c_str());
    std::fflush(stdout);
  }
  logLines_.push_back(text);
}

bool RunEvents::onMessage(std::int32_t code, void* data) {
  if (stopRequested() && !stopSeen_) {
    stopSeen_ = true;
    clearProgress();
    std::fflush(stdout);
    std::fputs(percent_ >= 0 && percent_ < kWritingPercent
                   ? "Stopping: the scan ends; no target file is written.\n"
                   : "Stopping: the message being written is finished and the file closed (press Ctrl-C again to "
                     "quit at once and leave it incomplete).\n",
               stderr);
  }
  switch (code) {
    case Progress:
      percent_ = *static_cast<const std::uint8_t*>(data);
      drawProgress(false);
      break;
    case LogLine: {
      std::string text = ansiToUtf8(static_cast<const char*>(data));
      if (text == "-") text = kSeparatorLine;
      if (text.starts_with(kSplitLinePrefix) && text.ends_with("'.")) {
        const std::size_t prefix = std::char_traits<char>::length(kSplitLinePrefix);
        splitTargets_.push_back(text.substr(prefix, text.size() - prefix - 2));
        currentTarget_ = splitTargets_.back();
      }
      if (text.starts_with(kMessageLinePrefix)) ++written_;
      logLine(text);
      drawProgress(lines_ && written_ == 1 && text.starts_with(kMessageLinePrefix));
      break;
    }
    case ErrorText: {
      std::string text = ansiToUtf8(static_cast<const char*>(data));
      clearProgress();
      std::fflush(stdout);
      std::fprintf(stderr, "%s\n", text.c_str());
      // Framed by separators, as the window shows it; stdout already has it on stderr.
      logLines_.push_back(kSeparatorLine);
      logLines_.push_back(text);
      logLines_.push_back(kSeparatorLine);
      lastError_ = std::move(text);
      break;
    }
    case ShowMessage: {
      std::string text = ansiToUtf8(static_cast<const char*>(data));
      if (text != lastError_) {
        clearProgress();
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", text.c_str());
      }
      break;
    }
    case RecoveredCount:
      recovered_ = *static_cast<const std::int32_t*>(data);
      break;
    case QueryAbort:
      return stopRequested();
    default:
      break;
  }
  return false;
}

bool RunEvents::saveLog(const RunSettings& settings) const {
  if (settings.logPath.empty()) return true;
  std::vector<std::string> lines;
  if (settings.systemInfo) {
    lines.emplace_back(kSeparatorLine);
    client::appendSystemInfo(lines, client::collectSystemFacts(BRELLIN_VERSION, BRELLIN_VERSION),
                             client::userLocaleNumbers());
  }
  lines.insert(lines.end(), logLines_.begin(), logLines_.end());
  std::string error;
  if (client::saveLogFile(settings.logPath, lines, error)) return true;
  std::fprintf(stderr, "vexl: cannot write the log file %s: %s\n", settings.logPath.c_str(), error.c_str());
  return false;
}

std::vector<std::string> writtenTargets(const std::string& target, const RunEvents& events) {
  std::vector<std::string> targets{target};
  targets.insert(targets.end(), events.splitTargets().begin(), events.splitTargets().end());
  std::erase_if(targets, [](const std::string& path) { return !std::filesystem::exists(path); });
  return targets;
}

}  // namespace vexl::cli
