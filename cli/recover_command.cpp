#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "client/TRELD.h"
#include "engine/core/code_page.h"
#include "engine/core/json.h"
#include "engine/core/path_names.h"

namespace vexl::cli {
namespace {

constexpr const char* kRecoverUsage =
    "Usage: vexl recover SOURCE [-o TARGET] [options] [--json]\n"
    "\n"
    "Scans SOURCE for every surviving structure and writes what it finds into the\n"
    "new PST file TARGET (an existing file of that name is replaced). The source\n"
    "is only read, never changed. TARGET defaults to SOURCE's name with\n"
    "\"_recovered.pst\" in place of its extension.\n"
    "\n"
    "  -o, --output TARGET     the PST file to create\n"
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
    "  --json                  print one summary object instead of the log\n"
    "  -h, --help              show this help\n";

constexpr std::int32_t kOn = -1;
constexpr const char* kSplitLinePrefix = "Current file size exceeds the limit. Create split file '";

// What the engine reports, for the terminal or the summary. The engine's
// texts are in the ANSI code page; the terminal and JSON get UTF-8. The
// engine sends the same text as an error and then as a message box for the
// errors that need attention; it is shown once.
class TerminalEvents final : public client::EngineEvents {
 public:
  explicit TerminalEvents(bool quietLog) : quietLog_(quietLog) {}

  bool onMessage(std::int32_t code, void* data) override {
    switch (code) {
      case LogLine: {
        std::string text = ansiToUtf8(static_cast<const char*>(data));
        if (text == "-") text = kSeparatorLine;
        if (text.starts_with(kSplitLinePrefix) && text.ends_with("'.")) {
          splitTargets_.push_back(text.substr(std::char_traits<char>::length(kSplitLinePrefix),
                                              text.size() - std::char_traits<char>::length(kSplitLinePrefix) - 2));
        }
        if (!quietLog_) {
          std::puts(text.c_str());
          std::fflush(stdout);
        }
        logLines_.push_back(std::move(text));
        break;
      }
      case ErrorText: {
        std::string text = ansiToUtf8(static_cast<const char*>(data));
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", text.c_str());
        logLines_.push_back(text);
        lastError_ = std::move(text);
        break;
      }
      case ShowMessage: {
        std::string text = ansiToUtf8(static_cast<const char*>(data));
        if (text != lastError_) std::fprintf(stderr, "%s\n", text.c_str());
        break;
      }
      case RecoveredCount:
        recovered_ = *static_cast<const std::int32_t*>(data);
        break;
      default:
        break;
    }
    return false;
  }

  std::int32_t recovered() const { return recovered_; }
  const std::vector<std::string>& logLines() const { return logLines_; }
  const std::vector<std::string>& splitTargets() const { return splitTargets_; }

 private:
  bool quietLog_;
  std::string lastError_;
  std::vector<std::string> logLines_;
  std::vector<std::string> splitTargets_;
  std::int32_t recovered_ = 0;
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "vexl recover: %s\n\n%s", message.c_str(), kRecoverUsage);
  return kExitUsage;
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

}  // namespace

int recoverCommand(std::span<const std::string_view> args) {
  std::string source;
  std::string target;
  bool json = false;
  EngineOptions options = client::defaultEngineOptions();
  options.DstFormat = 2;  // there is no Outlook to ask here: write the Unicode format

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    auto value = [&](std::string_view& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string_view v;
    if (arg == "-h" || arg == "--help") {
      std::fputs(kRecoverUsage, stdout);
      return 0;
    } else if (arg == "-o" || arg == "--output") {
      if (!value(v)) return usageError("-o needs a file name");
      target = v;
    } else if (arg == "--src-format") {
      if (!value(v) || !parseFormat(v, options.SrcFormat)) return usageError("--src-format needs auto, ansi or unicode");
    } else if (arg == "--dst-format") {
      if (!value(v) || !parseFormat(v, options.DstFormat)) return usageError("--dst-format needs auto, ansi or unicode");
    } else if (arg == "--no-fast") {
      options.FastRecovery = 0;
    } else if (arg == "--heuristic-root") {
      options.HeuristicRecoverRoot = kOn;
    } else if (arg == "--no-unattached") {
      options.RecoverUnattchedAttach = 0;
    } else if (arg == "--split") {
      std::int32_t megabytes = value(v) ? parseSplit(v) : 0;
      if (megabytes == 0) return usageError("--split needs 1 to 32767 (MB)");
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
      if (!value(v) || !parseLevels(v, options)) return usageError("--levels needs a list such as 1,2,5 or none");
    } else if (arg == "--personal") {
      options.SourceKind = 0;
    } else if (arg == "--json") {
      json = true;
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

  TerminalEvents events(json);
  auto started = std::chrono::steady_clock::now();
  std::int32_t result = client::runRecovery(source, options, target, &events);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::vector<std::string> targets{target};
  for (const std::string& path : events.splitTargets()) targets.push_back(path);
  std::erase_if(targets, [](const std::string& path) { return !std::filesystem::exists(path); });

  if (json) {
    std::string out = "{\"recovered\": " + std::to_string(events.recovered()) + ", \"result\": " +
                      std::to_string(result) + ", \"seconds\": ";
    char number[32];
    std::snprintf(number, sizeof number, "%.3f", seconds);
    out += number;
    out += ", \"targets\": [";
    for (std::size_t i = 0; i < targets.size(); ++i) out += (i ? ", " : "") + jsonString(targets[i]);
    out += "], \"log_lines\": [";
    for (std::size_t i = 0; i < events.logLines().size(); ++i) out += (i ? ", " : "") + jsonString(events.logLines()[i]);
    out += "]}\n";
    std::fputs(out.c_str(), stdout);
  } else {
    std::printf("%d item(s) recovered.\n", events.recovered());
    for (const std::string& path : targets) std::printf("Written: %s\n", path.c_str());
  }
  return result == 1 ? kExitRecovered : kExitNothingRecovered;
}

}  // namespace vexl::cli
