#include "engine/file/file64_ex.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/file/os_file.h"

namespace vexl {
namespace {

using Bytes = std::vector<unsigned char>;

unsigned char patternByte(std::uint64_t i) {
  return static_cast<unsigned char>((i * 2654435761u) >> 11 ^ (i >> 9));
}

// A medium with unreadable sectors. Reads at or past the end of the file
// return 0 bytes, as on a real disk. A read below the end that touches a
// bad sector fails as a whole, or, with prefixGranularity set, first
// returns the readable bytes before the bad sector rounded down to that
// granularity (as the page cache does). Counts the calls it sees.
class FaultyDisk : public ForwardingOsFile {
 public:
  std::uint32_t sector = 512;
  std::uint64_t fileLength = 0;
  std::set<std::uint64_t> badSectors;
  std::uint64_t prefixGranularity = 0;
  int preads = 0;
  int reads = 0;
  int seeks = 0;

  ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset) override {
    ++preads;
    return readAt(fd, buffer, count, static_cast<std::uint64_t>(offset));
  }
  ssize_t read(int fd, void* buffer, std::size_t count) override {
    ++reads;
    return inner_.read(fd, buffer, count);
  }
  off_t lseek(int fd, off_t offset, int whence) override {
    ++seeks;
    return inner_.lseek(fd, offset, whence);
  }
  std::uint32_t sectorSize(int) override { return sector; }

  // What a correct reader makes of byte x: zero in a bad sector.
  unsigned char visible(std::uint64_t x) const {
    return x < fileLength && badSectors.count(x / sector) == 0 ? patternByte(x) : 0;
  }

 private:
  ssize_t readAt(int fd, void* buffer, std::size_t count, std::uint64_t start) {
    const std::uint64_t end = std::min<std::uint64_t>(start + count, fileLength);
    if (start < end) {
      const auto bad = badSectors.lower_bound(start / sector);
      if (bad != badSectors.end() && *bad * sector < end) {
        const std::uint64_t badStart = std::max(start, *bad * sector);
        const std::uint64_t keep =
            prefixGranularity != 0 ? badStart / prefixGranularity * prefixGranularity : start;
        if (keep <= start) {
          errno = EIO;
          return -1;
        }
        count = keep - start;
      }
    }
    return inner_.pread(fd, buffer, count, static_cast<off_t>(start));
  }
};

class CFile64ExTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/file64ex-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    path_ = directory_ + "/source.ost";
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  void makeFile(std::uint64_t length) {
    Bytes bytes(length);
    for (std::uint64_t i = 0; i < length; ++i) bytes[i] = patternByte(i);
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    disk_.fileLength = length;
  }

  // Seeks, reads and checks the bytes against the medium; returns the count.
  std::uint32_t readAndCheck(CFile64Ex& file, std::uint64_t at, std::uint32_t count) {
    Bytes out(count, 0xEE);
    file.seek(static_cast<std::int64_t>(at), kSeekBegin);
    const std::uint32_t got = file.read(out.data(), count);
    for (std::uint32_t i = 0; i < got; ++i) {
      if (out[i] != disk_.visible(at + i)) {
        ADD_FAILURE() << "byte " << at + i << " of a read of " << count << " at " << at;
        break;
      }
    }
    EXPECT_EQ(file.position(), at + got);
    return got;
  }

  std::string directory_;
  std::string path_;
  FaultyDisk disk_;
};

TEST_F(CFile64ExTest, TwoWindowsFollowTheScan) {
  makeFile(300000);
  ScopedOsFileOverride seam(disk_);
  CFile64Ex file(65536);
  ASSERT_TRUE(file.open(path_, kSourceOpenMode, nullptr));

  EXPECT_EQ(readAndCheck(file, 0, 8192), 8192u);
  EXPECT_EQ(file.windowA().start, 0u);
  EXPECT_EQ(file.windowA().validBytes, 65536u);
  EXPECT_FALSE(file.windowB().usable());

  EXPECT_EQ(readAndCheck(file, 65530, 8192), 8192u);  // 6 bytes from A, the rest from B
  EXPECT_EQ(file.windowA().start, 0u);
  EXPECT_EQ(file.windowB().start, 65536u);
  EXPECT_EQ(file.windowB().validBytes, 65536u);
  EXPECT_EQ(disk_.preads, 2);  // one read per healthy refill, nothing else
  EXPECT_EQ(disk_.reads + disk_.seeks, 0);

  // Seeks and reads inside the windows stay in memory.
  for (std::uint64_t at = 100; at < 120000; at += 7919) readAndCheck(file, at, 531);
  EXPECT_EQ(disk_.preads, 2);

  // Both windows start before the position: the lower one is replaced.
  readAndCheck(file, 140000, 100);
  EXPECT_EQ(file.windowA().start, 140000u);
  EXPECT_EQ(file.windowB().start, 65536u);
  // A window starts after the position: B if it does, else A.
  readAndCheck(file, 10, 100);
  EXPECT_EQ(file.windowA().start, 140000u);
  EXPECT_EQ(file.windowB().start, 10u);
  readAndCheck(file, 139000, 100);
  EXPECT_EQ(file.windowA().start, 139000u);
  EXPECT_EQ(file.windowB().start, 10u);
  EXPECT_EQ(disk_.seeks, 0);
}

TEST_F(CFile64ExTest, ReadsStopAtTheEnd) {
  makeFile(300000);
  ScopedOsFileOverride seam(disk_);
  CFile64Ex file(65536);
  ASSERT_TRUE(file.open(path_, kSourceOpenMode, nullptr));

  EXPECT_EQ(file.seek(-40, kSeekEnd), 300000u - 40);
  EXPECT_EQ(readAndCheck(file, 300000 - 40, 100), 40u);
  EXPECT_EQ(readAndCheck(file, 300000, 100), 0u);
  EXPECT_EQ(readAndCheck(file, 500000, 1), 0u);
  EXPECT_EQ(readAndCheck(file, 300000 - 70000, 200000), 70000u);  // the direct path too
  EXPECT_THROW(file.seek(-1, kSeekBegin), FileError);
}

TEST_F(CFile64ExTest, UnreadableSectorReadsAsZeros) {
  makeFile(300000);
  disk_.badSectors = {3};
  for (std::uint64_t granularity : {0u, 512u}) {
    SCOPED_TRACE(granularity);
    disk_.prefixGranularity = granularity;
    disk_.preads = 0;
    ScopedOsFileOverride seam(disk_);
    CFile64Ex file(65536);
    ASSERT_TRUE(file.open(path_, kSourceOpenMode, nullptr));

    Bytes out(8192);
    ASSERT_EQ(file.read(out.data(), 8192), 8192u);
    for (std::uint64_t i = 0; i < 8192; ++i) {
      const bool inSector3 = i >= 1536 && i < 2048;
      ASSERT_EQ(out[i], inSector3 ? 0 : patternByte(i)) << i;
    }
    EXPECT_EQ(file.windowA().validBytes, 65536u);
    // After the failure the window is read sector by sector: from 0 when the
    // whole read failed, from sector 3 when the bytes before it came back.
    EXPECT_EQ(disk_.preads, granularity == 0 ? 1 + 128 : 2 + 125);
    EXPECT_EQ(readAndCheck(file, 65000, 8192), 8192u);
  }
}

TEST_F(CFile64ExTest, LargeReadGoesDirectAndKeepsTheCache) {
  makeFile(300000);
  ScopedOsFileOverride seam(disk_);
  CFile64Ex file(65536);
  ASSERT_TRUE(file.open(path_, kSourceOpenMode, nullptr));

  readAndCheck(file, 0, 100);
  const int afterFirst = disk_.preads;
  EXPECT_EQ(readAndCheck(file, 70000, 3 * 65536), 3u * 65536);
  EXPECT_EQ(disk_.preads, afterFirst + 1);
  EXPECT_EQ(file.windowA().start, 0u);
  EXPECT_EQ(file.windowA().validBytes, 65536u);
  EXPECT_FALSE(file.windowB().usable());

  // Whole windows go direct, the rest through a window.
  EXPECT_EQ(readAndCheck(file, 10, 150000), 150000u);
  EXPECT_EQ(file.windowA().start, 0u);
  EXPECT_EQ(file.windowB().start, 2u * 65536);
}

TEST_F(CFile64ExTest, SectorSizeDefaultsTo512) {
  makeFile(1000);
  ScopedOsFileOverride seam(disk_);
  for (std::uint32_t reported : {0u, 4096u}) {
    disk_.sector = reported;
    CFile64Ex file(0);
    ASSERT_TRUE(file.open(path_, kSourceOpenMode, nullptr));
    EXPECT_EQ(file.sectorSize(), reported == 0 ? 512u : reported);
    EXPECT_EQ(file.windowCapacity(), 4096u);
  }
}

// The reading the raw read must reproduce byte for byte: the range split at
// sector boundaries, one read per piece from the file pointer; a failed
// piece is zeros and is skipped.
std::uint32_t referenceRead(OsFile& os, int fd, std::uint32_t sector, std::uint64_t at,
                            unsigned char* out, std::uint32_t count) {
  std::uint64_t pointer = at;
  std::vector<std::uint32_t> pieces;
  std::uint32_t left = count;
  if (at % sector != 0) {
    pieces.push_back(std::min<std::uint32_t>(sector - at % sector, left));
    left -= pieces.back();
  }
  for (; left >= sector; left -= sector) pieces.push_back(sector);
  if (left > 0) pieces.push_back(left);

  std::uint32_t total = 0;
  for (const std::uint32_t piece : pieces) {
    const ssize_t n = os.pread(fd, out + total, piece, static_cast<off_t>(pointer));
    if (n < 0) {
      std::fill(out + total, out + total + piece, 0);
      total += piece;
      pointer += piece;
    } else if (n == 0) {
      return total;
    } else {
      total += static_cast<std::uint32_t>(n);
      pointer += static_cast<std::uint64_t>(n);
    }
  }
  return total;
}

TEST_F(CFile64ExTest, MatchesSectorBySectorReadingOnRandomDamage) {
  std::mt19937_64 random(20240611);
  auto uniform = [&](std::uint64_t low, std::uint64_t high) {
    return std::uniform_int_distribution<std::uint64_t>(low, high)(random);
  };
  const std::uint32_t sectors[] = {512, 4096, 1000};

  for (int trial = 0; trial < 150; ++trial) {
    disk_.sector = sectors[uniform(0, 2)];
    const std::uint64_t length = uniform(0, 12) * disk_.sector + uniform(0, disk_.sector);
    makeFile(length);
    disk_.badSectors.clear();
    const std::uint64_t badPercent = uniform(0, 40);
    for (std::uint64_t s = 0; s * disk_.sector < length + disk_.sector; ++s) {
      if (uniform(0, 99) < badPercent) disk_.badSectors.insert(s);
    }
    const std::uint64_t granularities[] = {0, disk_.sector, 4096, 100};
    disk_.prefixGranularity = granularities[uniform(0, 3)];
    SCOPED_TRACE(::testing::Message() << "trial " << trial << " length " << length << " sector "
                                      << disk_.sector << " granularity " << disk_.prefixGranularity);

    ScopedOsFileOverride seam(disk_);
    const int referenceFd = ::open(path_.c_str(), O_RDONLY);
    ASSERT_GE(referenceFd, 0);
    // With one-byte windows every read of two or more bytes is a single raw
    // read of exactly that range, and the windows stay empty.
    CFile64Ex direct(1);
    ASSERT_TRUE(direct.open(path_, kSourceOpenMode, nullptr));
    CFile64Ex cached(static_cast<std::uint32_t>(uniform(1, 3) * 1500));
    ASSERT_TRUE(cached.open(path_, kSourceOpenMode, nullptr));

    for (int i = 0; i < 25; ++i) {
      const std::uint64_t at = uniform(0, length + disk_.sector);
      const auto count = static_cast<std::uint32_t>(uniform(2, length + 2 * disk_.sector));
      Bytes expected(count, 0xEE);
      Bytes actual(count, 0xEE);
      const std::uint32_t want = referenceRead(disk_, referenceFd, disk_.sector, at, expected.data(), count);
      direct.seek(static_cast<std::int64_t>(at), kSeekBegin);
      ASSERT_EQ(direct.read(actual.data(), count), want) << "at " << at << " count " << count;
      ASSERT_EQ(actual, expected) << "at " << at << " count " << count;

      // The cache may keep zeros of a bad last sector past the end, so only
      // bounds are fixed for it; every byte it returns is what the medium has.
      const std::uint64_t end = disk_.badSectors.count(length / disk_.sector) != 0
                                    ? (length / disk_.sector + 1) * disk_.sector
                                    : length;
      const std::uint32_t got = readAndCheck(cached, at, count);
      EXPECT_GE(got, std::min<std::uint64_t>(count, at < length ? length - at : 0));
      EXPECT_LE(got, std::min<std::uint64_t>(count, at < end ? end - at : 0));
    }
    ::close(referenceFd);
  }
}

}  // namespace
}  // namespace vexl
