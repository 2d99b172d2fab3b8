#include "client/log_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/core/code_page.h"

namespace vexl::client {

std::string logFileText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += utf8ToAnsi(line) + "\r\n";
  return text;
}

bool saveLogFile(const std::string& path, const std::vector<std::string>& lines, std::string& error) {
  const std::string text = logFileText(lines);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) {
    error = std::strerror(errno);
    return false;
  }
  if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size() || std::fflush(file.get()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (std::fclose(file.release()) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace vexl::client
