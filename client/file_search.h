// The search for source files: a walk over folders that reports every file
// whose name matches one of a list of masks and that meets the size,
// attribute and time criteria. It runs in the calling thread; the caller's
// events are told of every folder as it is entered (the window program
// processes its pending messages there) and of every match, and a cancel
// request is honoured before the next file or subfolder.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexl::client {

using FileTime = std::chrono::system_clock::time_point;

// File attributes as the search knows them, with the values of the Windows
// attribute bits. This platform has no such bits; they are read as:
// - ReadOnly: the file cannot be written by this process;
// - Hidden: the name begins with ".";
// - System: the file belongs to root, as the files of the operating system do;
// - Archive: set for every file. Windows sets it whenever a file is written
//   and only backup programs clear it; nothing here keeps such a mark, so
//   requiring it excludes no file.
enum FileAttribute : std::uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrArchive = 0x20,
};

struct FoundFile {
  std::string folder;  // always ends with "/"
  std::string name;
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  // The birth time where the file system records one, else the earlier of
  // the last write and the last status change.
  FileTime created;
  FileTime lastAccessed;
  FileTime lastModified;
};

struct SearchCriteria {
  std::vector<std::string> folders;  // searched in this order
  std::vector<std::string> masks;  // "*" and "?" wildcards, letter case ignored
  bool recurse = true;
  // Do not descend into other file systems mounted below a folder; set when
  // the folders are the mount points of the local drives, each searched by
  // itself.
  bool stayOnFileSystem = false;
  std::uint64_t minSize = 0;  // bytes, inclusive
  std::uint64_t maxSize = 0;  // bytes, inclusive; 0 for no upper bound
  // Every attribute in the set is required; none means any file. An empty
  // set lets every file through.
  std::optional<std::uint32_t> requiredAttributes;
  std::optional<FileTime> createdNotBefore;
  std::optional<FileTime> accessedNotBefore;
  std::optional<FileTime> modifiedNotBefore;
};

// Splits "a;b;;c" into its non-empty items, blanks around each removed.
std::vector<std::string> splitSearchList(std::string_view list);

// Whether `name` matches `mask`: "*" stands for any run of characters, "?"
// for one; ASCII letters match in either case. "*.*" matches every name,
// also one without a dot, as on Windows.
bool matchesMask(std::string_view name, std::string_view mask);

// Whether a file meets the size, attribute and time criteria.
bool meetsCriteria(const FoundFile& file, const SearchCriteria& criteria);

class SearchEvents {
 public:
  virtual ~SearchEvents() = default;
  virtual void folderEntered(const std::string& folder) { (void)folder; }
  virtual void found(const FoundFile& file) = 0;
};

enum class SearchOutcome { Finished, Cancelled };

class FileSearch {
 public:
  // Searches every folder of the criteria. Within a folder the matches of
  // each mask come in the order the folder lists them, mask after mask; its
  // subfolders follow when the criteria recurse. Folders that cannot be read
  // give no matches. Symbolic links to folders are not followed; links to
  // files are reported as files of the folder that holds the link.
  SearchOutcome run(const SearchCriteria& criteria, SearchEvents& events);

  // Ends the running search before its next file or subfolder. A new run
  // clears the request.
  void cancel() { cancelRequested_ = true; }
  bool cancelRequested() const { return cancelRequested_; }

 private:
  struct Walk;

  bool cancelRequested_ = false;
};

}  // namespace vexl::client
