// Temporary files for attachment data.
#pragma once

#include <cstddef>
#include <string>

namespace vexl {

// The system's directory for temporary files; empty when there is none.
std::string tempDirectory();

// A new unique name in tempDirectory() starting with "QMV". The file is
// created empty (O_EXCL, mode 0600) to reserve the name and left for the
// caller, who writes it and removes it.
std::string makeTempFileName();

// 1 after creating `path` and writing all bytes; 0 when it cannot be created.
// Write errors throw FileError.
int writeBufferToFile(const std::string& path, const void* bytes, std::size_t count);

}  // namespace vexl
