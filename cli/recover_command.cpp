#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "client/TRELD.h"

namespace vexl::cli {
namespace {

constexpr const char* kRecoverUsage =
    "Usage: vexl recover SOURCE -o TARGET\n"
    "\n"
    "Scans SOURCE for every surviving structure and writes what it finds into the\n"
    "new PST file TARGET (an existing file of that name is replaced). The source\n"
    "is only read, never changed.\n"
    "\n"
    "  -o, --output TARGET   the PST file to create\n"
    "  -h, --help            show this help\n";

// Prints what the engine reports: log lines on stdout, errors and messages
// on stderr. The engine sends the same text as an error and then as a message
// box for the errors that need attention; the terminal shows it once.
class TerminalEvents final : public client::EngineEvents {
 public:
  bool onMessage(std::int32_t code, void* data) override {
    const char* text = static_cast<const char*>(data);
    switch (code) {
      case LogLine:
        std::puts(std::string_view(text) == "-" ? kSeparatorLine : text);
        std::fflush(stdout);
        break;
      case ErrorText:
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", text);
        lastError_ = text;
        break;
      case ShowMessage:
        if (lastError_ != text) std::fprintf(stderr, "%s\n", text);
        break;
      case RecoveredCount:
        recovered_ = *static_cast<const std::int32_t*>(data);
        break;
      default:
        break;
    }
    return false;
  }

  std::int32_t recovered() const { return recovered_; }

 private:
  std::string lastError_;
  std::int32_t recovered_ = 0;
};

int usageError(const char* message) {
  std::fprintf(stderr, "vexl recover: %s\n\n%s", message, kRecoverUsage);
  return kExitUsage;
}

}  // namespace

int recoverCommand(std::span<const std::string_view> args) {
  std::string source;
  std::string target;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kRecoverUsage, stdout);
      return 0;
    }
    if (arg == "-o" || arg == "--output") {
      if (i + 1 >= args.size()) return usageError("-o needs a file name");
      target = args[++i];
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return usageError(("unknown option " + std::string(arg)).c_str());
    } else if (source.empty()) {
      source = arg;
    } else {
      return usageError("more than one source file given");
    }
  }
  if (source.empty()) return usageError("no source file given");
  if (target.empty()) return usageError("no target file given (-o TARGET)");

  EngineOptions options = client::defaultEngineOptions();
  options.DstFormat = 2;  // there is no Outlook to ask here: write the Unicode format
  TerminalEvents events;
  std::int32_t result = client::runRecovery(source, options, target, &events);
  std::printf("%d item(s) recovered.\n", events.recovered());
  return result == 1 ? kExitRecovered : kExitNothingRecovered;
}

}  // namespace vexl::cli
