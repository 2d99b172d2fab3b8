// The search for source files: masks, the walk's order, the size, attribute
// and time criteria, links, unreadable folders and cancelling; the drive
// list it starts from.
#include "client/file_search.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "client/local_drives.h"

namespace vexl::client {
namespace {

namespace fs = std::filesystem;
using std::chrono::hours;
using std::chrono::seconds;

// Remembers every folder entered and every file found; can cancel its
// search after a number of matches.
class Recorder : public SearchEvents {
 public:
  explicit Recorder(FileSearch* search = nullptr, std::size_t cancelAfter = 0)
      : search_(search), cancelAfter_(cancelAfter) {}
  void folderEntered(const std::string& folder) override { folders.push_back(folder); }
  void found(const FoundFile& file) override {
    files.push_back(file);
    paths.push_back(file.folder + file.name);
    if (search_ != nullptr && paths.size() == cancelAfter_) search_->cancel();
  }
  std::vector<std::string> folders;
  std::vector<FoundFile> files;
  std::vector<std::string> paths;

 private:
  FileSearch* search_;
  std::size_t cancelAfter_;
};

class FileSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/file-search-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = std::string(pattern) + '/';
    write("a.ost", 1024);
    write("b.OST", 1023);
    write("c.pst", 10);
    write(".hidden.ost", 5);
    fs::create_directories(root_ + "sub/deeper");
    write("sub/d.ost", 2048);
    write("sub/deeper/e.ost", 1);
    fs::create_directory_symlink(root_ + "sub", root_ + "linked-folder");
    fs::create_symlink(root_ + "sub/d.ost", root_ + "linked.ost");
    ASSERT_EQ(::mkfifo((root_ + "pipe.ost").c_str(), 0600), 0);
  }
  void TearDown() override { fs::remove_all(root_); }

  void write(const std::string& name, std::size_t size) {
    std::ofstream(root_ + name, std::ios::binary) << std::string(size, 'x');
  }
  void setModified(const std::string& name, FileTime when) {
    const auto since = when.time_since_epoch();
    const auto whole = std::chrono::floor<seconds>(since);
    timespec times[2] = {{0, UTIME_OMIT},
                         {static_cast<time_t>(whole.count()),
                          static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - whole).count())}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (root_ + name).c_str(), times, 0), 0);
  }

  SearchCriteria criteria(bool recurse = true) const {
    SearchCriteria c;
    c.folders = {root_};
    c.masks = {"*.ost"};
    c.recurse = recurse;
    return c;
  }

  std::vector<std::string> run(const SearchCriteria& c) {
    Recorder recorder;
    EXPECT_EQ(FileSearch().run(c, recorder), SearchOutcome::Finished);
    return recorder.paths;
  }

  std::vector<std::string> names(std::initializer_list<const char*> relative) const {
    std::vector<std::string> out;
    for (const char* r : relative) out.push_back(root_ + r);
    return out;
  }

  static std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  std::string root_;
};

TEST(SearchMasks, WildcardsIgnoreLetterCase) {
  EXPECT_TRUE(matchesMask("outlook.ost", "*.ost"));
  EXPECT_TRUE(matchesMask("OUTLOOK.OST", "*.ost"));
  EXPECT_TRUE(matchesMask(".ost", "*.ost"));
  EXPECT_FALSE(matchesMask("outlook.ost.bak", "*.ost"));
  EXPECT_FALSE(matchesMask("outlook.pst", "*.ost"));
  EXPECT_TRUE(matchesMask("box1.ost", "box?.ost"));
  EXPECT_FALSE(matchesMask("box12.ost", "box?.ost"));
  EXPECT_TRUE(matchesMask("a.b.c", "*.*.*"));
  EXPECT_TRUE(matchesMask("README", "*.*"));
  EXPECT_FALSE(matchesMask("README", "*.x*"));
  EXPECT_TRUE(matchesMask("anything", "*"));
  EXPECT_TRUE(matchesMask("aXbXc", "a*b*c"));
  EXPECT_FALSE(matchesMask("aXbXd", "a*b*c"));
  EXPECT_FALSE(matchesMask("", "?"));
}

TEST(SearchMasks, ListsSplitAtSemicolons) {
  EXPECT_EQ(splitSearchList("/;/home;"), (std::vector<std::string>{"/", "/home"}));
  EXPECT_EQ(splitSearchList(" /a ; ;/b c"), (std::vector<std::string>{"/a", "/b c"}));
  EXPECT_TRUE(splitSearchList(";;").empty());
}

TEST_F(FileSearchTest, FindsMatchesFolderByFolderOwnFilesFirst) {
  Recorder recorder;
  ASSERT_EQ(FileSearch().run(criteria(), recorder), SearchOutcome::Finished);
  // Hidden files and links to files count; the pipe and the folder link do not.
  EXPECT_EQ(sorted(recorder.paths), sorted(names({"a.ost", "b.OST", ".hidden.ost", "linked.ost", "sub/d.ost",
                                                  "sub/deeper/e.ost"})));
  const auto at = [&](const std::string& r) {
    return std::find(recorder.paths.begin(), recorder.paths.end(), root_ + r) - recorder.paths.begin();
  };
  EXPECT_LT(at("a.ost"), at("sub/d.ost"));
  EXPECT_LT(at("linked.ost"), at("sub/d.ost"));
  EXPECT_LT(at("sub/d.ost"), at("sub/deeper/e.ost"));
  EXPECT_EQ(recorder.folders, names({"", "sub/", "sub/deeper/"}));
  for (const FoundFile& file : recorder.files) EXPECT_TRUE(file.folder.ends_with('/')) << file.folder;

  const FoundFile& d = recorder.files[static_cast<std::size_t>(at("sub/d.ost"))];
  EXPECT_EQ(d.size, 2048u);
  EXPECT_LE(d.created, d.lastModified);

  EXPECT_EQ(sorted(run(criteria(false))), sorted(names({"a.ost", "b.OST", ".hidden.ost", "linked.ost"})));
}

TEST_F(FileSearchTest, MasksComeOneAfterAnother) {
  SearchCriteria c = criteria(false);
  c.masks = {"*.pst", "a.*", "*.ost"};
  const std::vector<std::string> found = run(c);
  ASSERT_EQ(found.size(), 6u);
  EXPECT_EQ(found[0], root_ + "c.pst");
  EXPECT_EQ(found[1], root_ + "a.ost");  // again under the third mask
  EXPECT_EQ(std::count(found.begin(), found.end(), root_ + "a.ost"), 2);
}

TEST_F(FileSearchTest, SizeBoundsAreInclusiveAndZeroMaximumIsNone) {
  SearchCriteria c = criteria();
  c.minSize = 1024;
  EXPECT_EQ(sorted(run(c)), sorted(names({"a.ost", "linked.ost", "sub/d.ost"})));
  c.maxSize = 1024;
  EXPECT_EQ(run(c), names({"a.ost"}));
  c.minSize = 0;
  c.maxSize = 0;
  EXPECT_EQ(run(c).size(), 6u);
}

TEST_F(FileSearchTest, AttributesAreAllRequiredAndAnEmptySetPassesAll) {
  SearchCriteria c = criteria();
  c.requiredAttributes = 0;
  EXPECT_EQ(run(c).size(), 6u);
  c.requiredAttributes = kAttrHidden;
  EXPECT_EQ(run(c), names({".hidden.ost"}));
  c.requiredAttributes = kAttrHidden | kAttrArchive;
  EXPECT_EQ(run(c), names({".hidden.ost"}));
  c.requiredAttributes = kAttrSystem;  // owned by root
  EXPECT_EQ(run(c).size(), ::geteuid() == 0 ? 6u : 0u);

  c.requiredAttributes = kAttrReadOnly;
  fs::permissions(root_ + "b.OST", fs::perms::owner_read);
  if (::geteuid() == 0) {
    EXPECT_TRUE(run(c).empty());  // root may write every file
  } else {
    EXPECT_EQ(run(c), names({"b.OST"}));
  }
}

TEST_F(FileSearchTest, TimesMustBeAtOrAfterTheirBounds) {
  const FileTime now = std::chrono::system_clock::now();
  setModified("a.ost", now - hours(72));
  setModified("b.OST", now + hours(1));
  SearchCriteria c = criteria(false);
  c.modifiedNotBefore = now - hours(48);
  EXPECT_EQ(sorted(run(c)), sorted(names({"b.OST", ".hidden.ost", "linked.ost"})));

  // Zero days: only what was written at or after the moment of the search.
  c.modifiedNotBefore = now;
  setModified(".hidden.ost", now - seconds(1));
  setModified("sub/d.ost", now - seconds(1));  // what linked.ost shows
  EXPECT_EQ(run(c), names({"b.OST"}));

  // Exactly the bound matches.
  setModified(".hidden.ost", now);
  EXPECT_EQ(sorted(run(c)), sorted(names({"b.OST", ".hidden.ost"})));

  c.modifiedNotBefore.reset();
  c.createdNotBefore = now + hours(2);
  EXPECT_TRUE(run(c).empty());
}

TEST_F(FileSearchTest, FoldersRepeatTheirFilesAndMissingOnesGiveNothing) {
  SearchCriteria c = criteria();
  c.folders = {root_ + "missing", root_ + "sub", root_ + "sub/deeper/", root_ + "sub"};
  Recorder recorder;
  ASSERT_EQ(FileSearch().run(c, recorder), SearchOutcome::Finished);
  EXPECT_EQ(recorder.paths, names({"sub/d.ost", "sub/deeper/e.ost", "sub/deeper/e.ost", "sub/d.ost",
                                   "sub/deeper/e.ost"}));
  EXPECT_EQ(recorder.folders.front(), root_ + "missing/");
}

TEST_F(FileSearchTest, UnreadableFoldersAreSkipped) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  fs::permissions(root_ + "sub", fs::perms::none);
  EXPECT_EQ(sorted(run(criteria())), sorted(names({"a.ost", "b.OST", ".hidden.ost"})));
  fs::permissions(root_ + "sub", fs::perms::owner_all);
}

TEST_F(FileSearchTest, CancelStopsBeforeTheNextFileAndANewRunStartsAfresh) {
  FileSearch search;
  Recorder recorder(&search, 1);
  EXPECT_EQ(search.run(criteria(), recorder), SearchOutcome::Cancelled);
  EXPECT_EQ(recorder.paths.size(), 1u);
  EXPECT_EQ(recorder.folders.size(), 1u);

  Recorder second;
  EXPECT_EQ(search.run(criteria(), second), SearchOutcome::Finished);
  EXPECT_EQ(second.paths.size(), 6u);
}

TEST(LocalDrives, MountTableGivesDrivesByKind) {
  const std::string table =
      "proc /proc proc rw 0 0\n"
      "sysfs /sys sysfs rw 0 0\n"
      "/dev/sda1 / ext4 rw 0 0\n"
      "/dev/sda2 /home/my\\040files xfs rw 0 0\n"
      "tmpfs /run tmpfs rw 0 0\n"
      "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
      "server:/export /mnt/nfs nfs4 rw 0 0\n"
      "//host/share /mnt/smb cifs rw 0 0\n"
      "user@host:/x /mnt/ssh fuse.sshfs rw 0 0\n"
      "/dev/sdb1 /media/stick vfat rw 0 0\n"
      "/dev/sr0 /media/cd iso9660 ro 0 0\n"
      "overlay /var/lib/ctr overlay rw 0 0\n"
      "/dev/sda3 /data ext4 rw 0 0\n"
      "/dev/sdc1 /data btrfs rw 0 0\n"
      "weird /odd somefs rw 0 0\n"
      "truncated line\n";
  const std::vector<MountedDrive> drives =
      parseMountTable(table, [](const std::string& device) { return device.starts_with("/dev/sdb"); });
  std::vector<std::pair<std::string, DriveType>> got;
  for (const MountedDrive& d : drives) got.emplace_back(d.root, d.type);
  const std::vector<std::pair<std::string, DriveType>> expected = {
      {"/", DriveType::Fixed},          {"/home/my files", DriveType::Fixed}, {"/run", DriveType::RamDisk},
      {"/mnt/nfs", DriveType::Remote},  {"/mnt/smb", DriveType::Remote},      {"/mnt/ssh", DriveType::Remote},
      {"/media/stick", DriveType::Removable}, {"/media/cd", DriveType::CdRom}, {"/var/lib/ctr", DriveType::Fixed},
      {"/data", DriveType::Fixed},      {"/odd", DriveType::Unknown}};
  EXPECT_EQ(got, expected);
  EXPECT_EQ(drives[9].device, "/dev/sdc1");  // the later mount on /data
  EXPECT_EQ(drives[9].fsType, "btrfs");
  EXPECT_EQ(fixedDriveList(drives), "/;/home/my files;/var/lib/ctr;/data;");
  EXPECT_STREQ(driveTypeName(DriveType::Remote), "Remote Network Drive");
  EXPECT_STREQ(driveTypeName(DriveType::InvalidRoot), "Invalid Root Path");
  EXPECT_FALSE(isRemovableBlockDevice("/dev/no-such-device"));
}

}  // namespace
}  // namespace vexl::client
