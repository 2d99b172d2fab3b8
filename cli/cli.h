// The command line `vexl`: one function per subcommand.
#pragma once

#include <span>
#include <string_view>

namespace vexl::cli {

// Exit statuses.
inline constexpr int kExitRecovered = 0;
inline constexpr int kExitNothingRecovered = 1;
inline constexpr int kExitUsage = 2;

int recoverCommand(std::span<const std::string_view> args);
int scanCommand(std::span<const std::string_view> args);
int nodesCommand(std::span<const std::string_view> args);
int propsCommand(std::span<const std::string_view> args);
int tableCommand(std::span<const std::string_view> args);
int demoCommand(std::span<const std::string_view> args);
int batchCommand(std::span<const std::string_view> args);
int searchCommand(std::span<const std::string_view> args);
int infoCommand(std::span<const std::string_view> args);

}  // namespace vexl::cli
