#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/cli.h"

#ifndef BRELLIN_VERSION
#define BRELLIN_VERSION "0.0.0"
#endif

namespace {

constexpr const char* kUsage =
    "Usage: vexl COMMAND [ARGS]\n"
    "\n"
    "Recovers the mail, folders and attachments of a damaged or orphaned offline\n"
    "storage file (OST) into a new personal folders file (PST).\n"
    "\n"
    "Commands:\n"
    "  recover SOURCE -o TARGET   recover SOURCE into the new PST file TARGET (see recover --help)\n"
    "  batch SOURCE...            recover each SOURCE into its own PST file (see batch --help)\n"
    "  search [DIR...]            find OST files under DIR or on the local drives (see search --help)\n"
    "  info FILE                  header, variant and node counts of FILE (see info --help)\n"
    "  scan FILE                  scan FILE for surviving pages and blocks (see scan --help)\n"
    "  nodes FILE                 list the nodes of FILE's rebuilt node index (see nodes --help)\n"
    "  props FILE --nid N         the properties of node N (see props --help)\n"
    "  table FILE --nid N         the rows of table node N (see table --help)\n"
    "  demo OUT                   write a damaged demo mailbox to OUT (see demo --help)\n"
    "\n"
    "Options:\n"
    "  -h, --help                 show this help\n"
    "  --version                  show the program's version\n"
    "\n"
    "Exit status: 0 when anything was recovered (batch: every file), 1 when nothing\n"
    "was or an input cannot be used, 2 on a usage error, 130 when Ctrl-C stopped the\n"
    "run.\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return vexl::cli::kExitUsage;
  }
  std::string_view command = args.front();
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("vexl %s\n", BRELLIN_VERSION);
    return 0;
  }
  std::span<const std::string_view> rest(args.data() + 1, args.size() - 1);
  if (command == "recover") return vexl::cli::recoverCommand(rest);
  if (command == "batch") return vexl::cli::batchCommand(rest);
  if (command == "search") return vexl::cli::searchCommand(rest);
  if (command == "info") return vexl::cli::infoCommand(rest);
  if (command == "scan") return vexl::cli::scanCommand(rest);
  if (command == "nodes") return vexl::cli::nodesCommand(rest);
  if (command == "props") return vexl::cli::propsCommand(rest);
  if (command == "table") return vexl::cli::tableCommand(rest);
  if (command == "demo") return vexl::cli::demoCommand(rest);
  std::fprintf(stderr, "vexl: unknown command '%.*s'\n\n%s", static_cast<int>(command.size()), command.data(), kUsage);
  return vexl::cli::kExitUsage;
}
