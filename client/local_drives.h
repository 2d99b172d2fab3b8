// The computer's "drives": the mounted file systems, each with the kind of
// drive it stands for. Mount points play the part of drive roots; the
// classification follows the file system type and, for block devices, the
// kernel's removable flag.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vexl::client {

// Numbered as the drive types of the Windows drive report.
enum class DriveType : std::uint32_t {
  Unknown = 0,
  InvalidRoot = 1,
  Removable = 2,
  Fixed = 3,
  Remote = 4,
  CdRom = 5,
  RamDisk = 6,
};

// "Fixed Drive", "Remote Network Drive", ...
const char* driveTypeName(DriveType type);

struct MountedDrive {
  std::string root;  // the mount point
  std::string device;  // the mounted source as the mount table names it
  std::string fsType;
  DriveType type = DriveType::Unknown;
};

// True when the block device `device` (a path such as /dev/sdb1) sits on a
// removable disk.
using RemovableProbe = std::function<bool(const std::string& device)>;
// Reads /sys/block/<disk>/removable for the disk that holds `device`.
bool isRemovableBlockDevice(const std::string& device);

// The drives of a mount table in /proc/self/mounts form, in table order.
// Pseudo file systems (proc, sysfs, cgroup, devtmpfs, ...) are no drives and
// are left out; a mount point mounted over keeps only its last entry.
std::vector<MountedDrive> parseMountTable(std::string_view table, const RemovableProbe& isRemovable);

// The drives of this computer (from /proc/self/mounts). Fixed drives whose
// mount point is no folder (a file bind-mounted over another) are left out;
// nothing else is touched, so no network or removable drive is accessed.
std::vector<MountedDrive> localDrives();

// The roots of the fixed drives, each followed by ";" ("/;/home;").
std::string fixedDriveList(const std::vector<MountedDrive>& drives);

}  // namespace vexl::client
