#include "client/local_drives.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vexl::client {
namespace {

bool isOneOf(std::string_view value, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), value) != names.end();
}

// Kernel and desktop file systems that hold no user files.
bool isPseudo(std::string_view type) {
  return isOneOf(type, {"proc", "sysfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "securityfs", "debugfs",
                        "tracefs", "pstore", "bpf", "mqueue", "hugetlbfs", "configfs", "fusectl", "autofs",
                        "binfmt_misc", "efivarfs", "nsfs", "rpc_pipefs", "selinuxfs", "sockfs", "pipefs", "nfsd",
                        "usbfs", "fuse.gvfsd-fuse", "fuse.portal", "fuse.lxcfs"});
}

bool isNetwork(std::string_view type, std::string_view device) {
  if (isOneOf(type, {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph", "glusterfs", "9p", "davfs",
                     "lustre", "gpfs", "beegfs", "fuse.sshfs", "fuse.s3fs", "fuse.rclone", "fuse.glusterfs"})) {
    return true;
  }
  // A FUSE file system mounted from "host:path" or "//host/share".
  return type.starts_with("fuse.") &&
         (device.starts_with("//") || (!device.starts_with("/") && device.find(':') != std::string_view::npos));
}

bool isLocalDisk(std::string_view type) {
  return isOneOf(type, {"ext2", "ext3", "ext4", "xfs", "btrfs", "zfs", "f2fs", "jfs", "reiserfs", "vfat", "msdos",
                        "exfat", "ntfs", "ntfs3", "fuseblk", "hfsplus", "nilfs2", "bcachefs", "overlay"});
}

// Mount tables write blanks, tabs, line ends and backslashes in paths as
// three-digit octal escapes.
std::string unescape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string_view digits = field.substr(i + 1, 3);
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

DriveType classify(std::string_view type, const std::string& device, const RemovableProbe& isRemovable) {
  if (isOneOf(type, {"tmpfs", "ramfs"})) return DriveType::RamDisk;
  if (isOneOf(type, {"iso9660", "udf"})) return DriveType::CdRom;
  if (isNetwork(type, device)) return DriveType::Remote;
  if (isLocalDisk(type)) {
    if (device.starts_with("/dev/") && isRemovable && isRemovable(device)) return DriveType::Removable;
    return DriveType::Fixed;
  }
  return DriveType::Unknown;
}

std::string readFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

const char* driveTypeName(DriveType type) {
  switch (type) {
    case DriveType::Unknown:
      return "Unknown Drive Type";
    case DriveType::InvalidRoot:
      return "Invalid Root Path";
    case DriveType::Removable:
      return "Removable Drive";
    case DriveType::Fixed:
      return "Fixed Drive";
    case DriveType::Remote:
      return "Remote Network Drive";
    case DriveType::CdRom:
      return "CD-ROM Drive";
    case DriveType::RamDisk:
      return "RAM Disk";
  }
  return "Unknown Drive Type";
}

bool isRemovableBlockDevice(const std::string& device) {
  // /dev/disk/by-uuid/... and /dev/mapper/... are links to the kernel's name.
  std::array<char, PATH_MAX> resolved{};
  if (realpath(device.c_str(), resolved.data()) == nullptr) return false;
  const std::string devicePath = resolved.data();
  const std::string name = devicePath.substr(devicePath.rfind('/') + 1);
  if (name.empty()) return false;
  // A partition's sysfs folder sits inside its disk's folder.
  std::string folder = "/sys/class/block/" + name;
  if (realpath(folder.c_str(), resolved.data()) == nullptr) return false;
  folder = resolved.data();
  struct stat info {};
  if (stat((folder + "/partition").c_str(), &info) == 0) folder = folder.substr(0, folder.rfind('/'));
  return readFirstLine(folder + "/removable") == "1";
}

std::vector<MountedDrive> parseMountTable(std::string_view table, const RemovableProbe& isRemovable) {
  std::vector<MountedDrive> drives;
  std::istringstream lines{std::string(table)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string device, root, type;
    if (!(fields >> device >> root >> type)) continue;
    if (isPseudo(type)) continue;
    MountedDrive drive;
    drive.device = unescape(device);
    drive.root = unescape(root);
    drive.fsType = type;
    drive.type = classify(type, drive.device, isRemovable);
    // A later mount on the same point hides the earlier one.
    std::erase_if(drives, [&](const MountedDrive& d) { return d.root == drive.root; });
    drives.push_back(std::move(drive));
  }
  return drives;
}

std::vector<MountedDrive> localDrives() {
  std::ifstream in("/proc/self/mounts");
  const std::string table{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<MountedDrive> drives = parseMountTable(table, isRemovableBlockDevice);
  std::erase_if(drives, [](const MountedDrive& d) {
    if (d.type != DriveType::Fixed) return false;
    struct stat info {};
    return stat(d.root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode);
  });
  return drives;
}

std::string fixedDriveList(const std::vector<MountedDrive>& drives) {
  std::string list;
  for (const MountedDrive& d : drives) {
    if (d.type == DriveType::Fixed) list += d.root + ';';
  }
  return list;
}

}  // namespace vexl::client
