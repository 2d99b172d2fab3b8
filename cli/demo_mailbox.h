// A demo mailbox written through our MAPI subset with the calls the engine
// makes for a recovery: nested folders, messages with plain, HTML and RTF
// bodies, To/Cc/Bcc recipients, file attachments, embedded messages, OLE
// attachments, named properties and non-ASCII texts. Its content is a
// function of the options only, so tests and benchmarks can rebuild it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/engine_context.h"

namespace vexl::demo {

constexpr unsigned kDemoPlannedFolders = 8;
constexpr unsigned kDemoMaxFolders = 1000;

struct DemoMailboxOptions {
  PstFormat format = PstFormat::Unicode;
  unsigned messages = 200;
  // Folders holding messages: the eight of the plan, then "Project NNN"
  // folders below Projects, so that a large mailbox can have many.
  unsigned folders = kDemoPlannedFolders;
};

struct DemoFolder {
  std::string path;  // UTF-8, below the IPM subtree, "/"-separated
  std::uint32_t nid = 0;
  unsigned messages = 0;
};

// What was written.
struct DemoMailbox {
  PstFormat format = PstFormat::Unicode;
  std::vector<DemoFolder> folders;  // every folder holding demo items
  unsigned messages = 0;            // top-level messages
  unsigned attachments = 0;         // attachments of the top-level messages
  unsigned embeddedMessages = 0;    // of those attachments, embedded messages
  unsigned oleObjects = 0;          // of those attachments, OLE objects
  // The folder that the damage step removes from the node index.
  std::uint32_t folderToLose = 0;
};

// Writes the demo mailbox as a new file at `path` (an existing file is
// replaced). None, with `error` set, when a MAPI call fails.
std::optional<DemoMailbox> writeDemoMailbox(const std::string& path, const DemoMailboxOptions& options,
                                            std::string& error);

// `text` as a compressed RTF stream ([MS-OXRTFCP] 2.1.3.1, "LZFu"), every
// byte a literal: what PR_RTF_COMPRESSED holds.
std::vector<std::uint8_t> compressRtf(const std::string& text);

}  // namespace vexl::demo
