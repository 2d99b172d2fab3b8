// A saved recovery log: plain text in the system's ANSI code page, every line
// ended by carriage return and line feed.
#pragma once

#include <string>
#include <vector>

namespace vexl::client {

// The lines (UTF-8) as the file's bytes.
std::string logFileText(const std::vector<std::string>& lines);

// Writes the lines to `path`, replacing the file. On failure `error` tells
// why and the result is false.
bool saveLogFile(const std::string& path, const std::vector<std::string>& lines, std::string& error);

}  // namespace vexl::client
