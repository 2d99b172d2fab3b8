// What `vexl recover` and `vexl batch` share: the recovery options, the
// checks of a source and target before the engine runs, the stop request of
// Ctrl-C, and the events object that draws the progress and keeps the log.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/TRELD.h"

namespace vexl::cli {

// Exit status of a run the user stopped (as a shell reports a SIGINT).
inline constexpr int kExitStopped = 130;

// The options a recovery takes, and how its report is shown.
struct RunSettings {
  EngineOptions options = client::defaultEngineOptions();
  bool json = false;
  bool quiet = false;       // no progress display
  std::string logPath;      // the log goes here instead of stdout
  bool systemInfo = false;  // the saved log begins with the system report
  RunSettings() { options.DstFormat = 2; }  // there is no Outlook to ask here: write the Unicode format
};

// The help text of the options parseRunOption takes.
extern const char* const kRunOptionsHelp;

// The help of a command that takes the run options: `head`, the options
// and -h.
void printRunCommandUsage(std::FILE* out, const char* head);
// A usage error of `command`: the message and the command's help on
// stderr; returns the usage exit status.
int runCommandUsageError(const char* command, const char* head, const std::string& message);

enum class OptionParse { Taken, NotMine, Error };

// Takes args[i] (and its value, advancing i) when it is one of the run
// options. On Error `error` says what is wrong.
OptionParse parseRunOption(std::span<const std::string_view> args, std::size_t& i, RunSettings& settings,
                           std::string& error);

// Why `source` cannot be recovered into `target`, or empty when it can: a
// source that is a folder, a target that is a folder, whose folder is
// missing or cannot be written, or that is the source itself (also through
// a link). A missing source is left to the engine, which reports it.
std::string checkSourceAndTarget(const std::string& source, const std::string& target);
// Why a new file cannot be written at `path`, or empty.
std::string checkOutputFile(const std::string& path);
// Why the log cannot be written at `logPath`: also when it would replace a
// source or a target of the run.
std::string checkLogFile(const std::string& logPath, std::span<const std::string> sources,
                         std::span<const std::string> targets);
// Whether two paths name one file: the same inode, or the same path once
// links and dots are resolved when one of them does not exist yet.
bool sameFile(const std::string& a, const std::string& b);

// SIGINT and SIGTERM set the stop flag; a second one ends the program at once.
void installStopHandlers();
bool stopRequested();

// The "Consumed time: ..." text of a duration.
std::string consumedTimeText(std::chrono::milliseconds elapsed);

// The engine's reports for one run at a time: the log lines (to stdout, or
// kept for the log file), errors on stderr, the progress display on stderr,
// and the stop request answered through QueryAbort.
class RunEvents final : public client::EngineEvents {
 public:
  explicit RunEvents(const RunSettings& settings);
  ~RunEvents() override;

  // A new run into `target`; `label` goes before the phase ("[2/5] mail.ost").
  void beginRun(const std::string& target, const std::string& label);
  // Ends the progress display of the run.
  void endRun();

  bool onMessage(std::int32_t code, void* data) override;

  // A line the command writes into the log itself.
  void logLine(const std::string& text);
  // The log so far, separator lines drawn, texts in UTF-8.
  const std::vector<std::string>& logLines() const { return logLines_; }
  // Writes the log file when there is one; false with a message on stderr
  // when it cannot be written.
  bool saveLog(const RunSettings& settings) const;

  std::int32_t recovered() const { return recovered_; }
  const std::vector<std::string>& splitTargets() const { return splitTargets_; }
  bool stopSeen() const { return stopSeen_; }

 private:
  void drawProgress(bool force);
  void clearProgress();
  std::string phaseText() const;

  bool json_;
  bool logToStdout_;
  bool stdoutIsTerminal_;  // log lines and the bar share the screen
  bool bar_;    // a redrawn bar on a terminal
  bool lines_;  // plain progress lines
  std::string label_;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastDraw_;
  int percent_ = -1;
  int shownPercent_ = -1;
  bool barVisible_ = false;
  std::uint64_t written_ = 0;  // items written into the target so far
  std::string currentTarget_;
  bool stopSeen_ = false;
  std::string lastError_;
  std::vector<std::string> logLines_;
  std::vector<std::string> splitTargets_;
  std::int32_t recovered_ = 0;
};

// The files a run left: the target and its split files that exist.
std::vector<std::string> writtenTargets(const std::string& target, const RunEvents& events);

struct RunOutcome {
  std::int32_t result = 0;  // the engine's: 1 when anything was recovered
  std::int32_t recovered = 0;  // items
  bool stopped = false;  // the user asked for the stop
  std::chrono::milliseconds elapsed{0};
  std::vector<std::string> targets;  // written, split files included
};

// One engine run framed by the log lines of the window program's run: the
// opening lines with the source's size, the consumed time and the closing
// line (success report, failure or stop).
RunOutcome runRecoveryLogged(const std::string& source, const std::string& target, const RunSettings& settings,
                             RunEvents& events, const std::string& label = {});

}  // namespace vexl::cli
