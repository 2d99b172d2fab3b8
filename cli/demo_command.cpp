#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/cli.h"
#include "cli/demo_damage.h"
#include "cli/demo_mailbox.h"
#include "engine/core/json.h"

namespace vexl::cli {
namespace {

constexpr const char* kDemoUsage =
    "Usage: vexl demo OUT [--format unicode|ansi] [--messages N] [--folders N] [--intact]\n"
    "\n"
    "Writes a demo mailbox to OUT (an existing file is replaced): nested folders,\n"
    "messages with plain, HTML and RTF bodies, To/Cc/Bcc recipients, file\n"
    "attachments, embedded messages, OLE objects, named properties and texts in\n"
    "several scripts. Then damages it as a broken disk would: B-tree pages and\n"
    "sectors of data zeroed, one folder taken out of the node index. Recovering\n"
    "OUT with 'vexl recover' shows the scan and the lost-and-found passes at work.\n"
    "The same options give the same file. Prints a JSON manifest of what was\n"
    "written before the damage.\n"
    "\n"
    "  --format F      unicode (default) or ansi: the file's variant\n"
    "  --messages N    top-level messages to write, 1 to 400000 (default 200)\n"
    "  --folders N     folders to spread them over, 8 to 1000 (default 8)\n"
    "  --intact        leave the file undamaged\n"
    "  -h, --help      show this help\n";

int usageError(const std::string& message) {
  std::fprintf(stderr, "vexl demo: %s\n\n%s", message.c_str(), kDemoUsage);
  return kExitUsage;
}

std::string formatName(PstFormat format) { return format == PstFormat::Unicode ? "unicode" : "ansi"; }

std::string manifestJson(const demo::DemoMailbox& mailbox, const std::optional<demo::DamageReport>& damage) {
  std::string out = "{\"format\": " + jsonString(formatName(mailbox.format)) +
                    ", \"folders\": " + std::to_string(mailbox.folders.size()) +
                    ", \"messages\": " + std::to_string(mailbox.messages) +
                    ", \"attachments\": " + std::to_string(mailbox.attachments) +
                    ", \"embedded_messages\": " + std::to_string(mailbox.embeddedMessages) +
                    ", \"ole_objects\": " + std::to_string(mailbox.oleObjects) + ", \"folder_list\": [";
  std::string lost;
  for (std::size_t i = 0; i < mailbox.folders.size(); ++i) {
    const demo::DemoFolder& f = mailbox.folders[i];
    out += (i ? ", " : "") + std::string("{\"path\": ") + jsonString(f.path) +
           ", \"messages\": " + std::to_string(f.messages) + "}";
    if (f.nid == mailbox.folderToLose) lost = f.path;
  }
  out += "], \"damage\": ";
  if (!damage) return out + "null}\n";
  out += "{\"zeroed_pages\": " + std::to_string(damage->zeroedPages.size()) +
         ", \"zeroed_sectors\": " + std::to_string(damage->zeroedSectors.size()) + ", \"lost_folder\": " +
         (damage->folderRemoved ? jsonString(lost) : std::string("null")) + "}}\n";
  return out;
}

}  // namespace

int demoCommand(std::span<const std::string_view> args) {
  std::string path;
  demo::DemoMailboxOptions options;
  bool intact = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "-h" || arg == "--help") {
      std::fputs(kDemoUsage, stdout);
      return 0;
    } else if (arg == "--format") {
      const std::string_view v = hasValue ? args[++i] : std::string_view{};
      if (v == "unicode") options.format = PstFormat::Unicode;
      else if (v == "ansi") options.format = PstFormat::Ansi;
      else return usageError("--format needs unicode or ansi");
    } else if (arg == "--messages") {
      const std::string v(hasValue ? args[++i] : std::string_view{});
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n < 1 || n > 400000) return usageError("--messages needs 1 to 400000");
      options.messages = static_cast<unsigned>(n);
    } else if (arg == "--folders") {
      const std::string v(hasValue ? args[++i] : std::string_view{});
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n < demo::kDemoPlannedFolders || n > demo::kDemoMaxFolders)
        return usageError("--folders needs 8 to 1000");
      options.folders = static_cast<unsigned>(n);
    } else if (arg == "--intact") {
      intact = true;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return usageError("unknown option " + std::string(arg));
    } else if (path.empty()) {
      path = arg;
    } else {
      return usageError("more than one output file given");
    }
  }
  if (path.empty()) return usageError("no output file given");
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return usageError(path + " is a directory");

  std::string error;
  const auto mailbox = demo::writeDemoMailbox(path, options, error);
  if (!mailbox) {
    std::fprintf(stderr, "vexl demo: %s: %s\n", path.c_str(), error.c_str());
    return kExitNothingRecovered;
  }
  std::optional<demo::DamageReport> damage;
  if (!intact) {
    damage = demo::damageMailbox(path, mailbox->folderToLose, error);
    if (!damage) {
      std::fprintf(stderr, "vexl demo: %s: %s\n", path.c_str(), error.c_str());
      return kExitNothingRecovered;
    }
  }
  std::fputs(manifestJson(*mailbox, damage).c_str(), stdout);
  return 0;
}

}  // namespace vexl::cli
