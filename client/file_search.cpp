#include "client/file_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace vexl::client {
namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

FileTime timeOf(const struct statx_timestamp& t) {
  return FileTime(std::chrono::duration_cast<FileTime::duration>(std::chrono::seconds(t.tv_sec) +
                                                                 std::chrono::nanoseconds(t.tv_nsec)));
}

bool notBefore(FileTime time, const std::optional<FileTime>& bound) { return !bound || time >= *bound; }

// One entry of a folder, with what the walk needs to know of it.
struct Entry {
  std::string name;
  bool statted = false;
  bool isFolder = false;  // a real folder, not a link to one
  bool isFile = false;  // a regular file, also through a link
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::uint32_t owner = 0;
  FileTime accessed, modified, created;
};

}  // namespace

std::vector<std::string> splitSearchList(std::string_view list) {
  std::vector<std::string> items;
  while (!list.empty()) {
    const std::size_t end = std::min(list.find(';'), list.size());
    const std::string_view item = trimmed(list.substr(0, end));
    if (!item.empty()) items.emplace_back(item);
    list.remove_prefix(std::min(end + 1, list.size()));
  }
  return items;
}

bool matchesMask(std::string_view name, std::string_view mask) {
  if (mask == "*.*") return true;
  // Greedy matching with one back-track point: the last "*" seen.
  std::size_t n = 0, m = 0;
  std::size_t starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && (mask[m] == '?' || lowerAscii(mask[m]) == lowerAscii(name[n]))) {
      ++m;
      ++n;
    } else if (starMask != std::string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

bool meetsCriteria(const FoundFile& file, const SearchCriteria& criteria) {
  if (file.size < criteria.minSize) return false;
  if (criteria.maxSize != 0 && file.size > criteria.maxSize) return false;
  if (criteria.requiredAttributes && (file.attributes & *criteria.requiredAttributes) != *criteria.requiredAttributes) {
    return false;
  }
  return notBefore(file.created, criteria.createdNotBefore) &&
         notBefore(file.lastAccessed, criteria.accessedNotBefore) &&
         notBefore(file.lastModified, criteria.modifiedNotBefore);
}

struct FileSearch::Walk {
  FileSearch& search;
  const SearchCriteria& criteria;
  SearchEvents& events;
  // Folders on the way down, to stop at a bind mount that leads back up.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> path;

  bool stopped() const { return search.cancelRequested_; }

  static std::uint64_t deviceOf(const struct statx& info) {
    return (std::uint64_t{info.stx_dev_major} << 32) | info.stx_dev_minor;
  }

  void inspect(const std::string& folder, Entry& entry) {
    if (entry.statted) return;
    entry.statted = true;
    const std::string full = folder + entry.name;
    constexpr unsigned kMask = STATX_TYPE | STATX_MODE | STATX_UID | STATX_SIZE | STATX_INO | STATX_ATIME |
                               STATX_MTIME | STATX_CTIME | STATX_BTIME;
    struct statx info {};
    if (statx(AT_FDCWD, full.c_str(), AT_SYMLINK_NOFOLLOW, kMask, &info) != 0) return;
    const bool link = S_ISLNK(info.stx_mode);
    if (link && statx(AT_FDCWD, full.c_str(), 0, kMask, &info) != 0) return;
    entry.isFolder = !link && S_ISDIR(info.stx_mode);
    entry.isFile = S_ISREG(info.stx_mode);
    entry.device = deviceOf(info);
    entry.inode = info.stx_ino;
    entry.size = info.stx_size;
    entry.owner = info.stx_uid;
    entry.accessed = timeOf(info.stx_atime);
    entry.modified = timeOf(info.stx_mtime);
    entry.created = (info.stx_mask & STATX_BTIME) != 0 ? timeOf(info.stx_btime)
                                                        : std::min(entry.modified, timeOf(info.stx_ctime));
  }

  FoundFile describe(const std::string& folder, const Entry& entry) const {
    FoundFile file;
    file.folder = folder;
    file.name = entry.name;
    file.size = entry.size;
    file.attributes = kAttrArchive;
    if (access((folder + entry.name).c_str(), W_OK) != 0) file.attributes |= kAttrReadOnly;
    if (entry.name.starts_with('.')) file.attributes |= kAttrHidden;
    if (entry.owner == 0) file.attributes |= kAttrSystem;
    file.created = entry.created;
    file.lastAccessed = entry.accessed;
    file.lastModified = entry.modified;
    return file;
  }

  static std::vector<Entry> list(const std::string& folder) {
    std::vector<Entry> entries;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return entries;
    while (const dirent* e = readdir(dir)) {
      const std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      entries.emplace_back().name = name;
    }
    closedir(dir);
    return entries;
  }

  void folder(const std::string& folder, std::uint64_t device) {
    if (stopped()) return;
    events.folderEntered(folder);
    std::vector<Entry> entries = list(folder);
    for (const std::string& mask : criteria.masks) {
      for (Entry& entry : entries) {
        if (stopped()) return;
        if (!matchesMask(entry.name, mask)) continue;
        inspect(folder, entry);
        if (!entry.isFile) continue;
        const FoundFile file = describe(folder, entry);
        if (meetsCriteria(file, criteria)) events.found(file);
      }
    }
    if (!criteria.recurse) return;
    for (Entry& entry : entries) {
      if (stopped()) return;
      inspect(folder, entry);
      if (!entry.isFolder) continue;
      if (criteria.stayOnFileSystem && entry.device != device) continue;
      const std::pair<std::uint64_t, std::uint64_t> id{entry.device, entry.inode};
      if (std::find(path.begin(), path.end(), id) != path.end()) continue;
      path.push_back(id);
      this->folder(folder + entry.name + '/', entry.device);
      path.pop_back();
    }
  }

  void start(std::string root) {
    if (!root.ends_with('/')) root += '/';
    struct statx info {};
    if (statx(AT_FDCWD, root.c_str(), 0, STATX_INO, &info) != 0) {
      events.folderEntered(root);  // reported as entered; it gives nothing
      return;
    }
    path.assign(1, {deviceOf(info), info.stx_ino});
    folder(root, deviceOf(info));
  }
};

SearchOutcome FileSearch::run(const SearchCriteria& criteria, SearchEvents& events) {
  cancelRequested_ = false;
  Walk walk{*this, criteria, events, {}};
  for (const std::string& root : criteria.folders) {
    if (cancelRequested_) break;
    walk.start(root);
  }
  return cancelRequested_ ? SearchOutcome::Cancelled : SearchOutcome::Finished;
}

}  // namespace vexl::client
