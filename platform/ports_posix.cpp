#include <dirent.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/files.h"
#include "platform/ports.h"

namespace vanta {
namespace {

std::string LinkPath(int comNumber) {
  return PortLinkDirectory() + "COM" + std::to_string(comNumber);
}

// The text of an errno value. strerror's buffer is shared by all threads, and the command line
// runs one thread per probe.
std::string ErrorText(int error) {
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);
}

// readlink's target, or "" when path is no symbolic link.
std::string LinkTarget(const std::string& path) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace

std::string PortLinkDirectory() {
  return UserConfigDirectory() + "/Norvane/ports/";
}

std::string ResolvePortDevice(const std::string& name) {
  const int number = ComNumber(name);
  if (number < 0) return name;
  std::string link = LinkPath(number);  // not const: returned by move
  struct stat info {};
  if (lstat(link.c_str(), &info) == 0) {
    // Show where the link leads; a relative target is relative to the link's directory.
    const std::string target = LinkTarget(link);
    if (target.empty()) return link;
    return target[0] == '/' ? target : PortLinkDirectory() + target;
  }
  return "/dev/ttyS" + std::to_string(number - 1);
}

bool PortNamesAreLinks() {
  return true;
}

bool IsPortMapped(int comNumber) {
  struct stat info {};
  return comNumber >= 0 && lstat(LinkPath(comNumber).c_str(), &info) == 0;
}

bool PortDeviceExists(const std::string& device) {
  struct stat info {};
  return stat(ResolvePortDevice(device).c_str(), &info) == 0;
}

GroupAccess DeviceGroupAccess(const std::string& device) {
  struct stat info {};
  if (stat(device.c_str(), &info) != 0) return GroupAccess::Unknown;
  if (info.st_gid == 0) return GroupAccess::RootGroup;
  if (getegid() == info.st_gid) return GroupAccess::Member;
  int count = getgroups(0, nullptr);
  if (count <= 0) return GroupAccess::NotMember;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  count = getgroups(count, groups.data());
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<size_t>(i)] == info.st_gid) return GroupAccess::Member;
  }
  return GroupAccess::NotMember;
}

bool MapPort(int comNumber, const std::string& device, std::string& error) {
  if (comNumber < 0) {
    error = "The port number must not be negative.";
    return false;
  }
  if (device.empty()) {
    error = "No device given for COM" + std::to_string(comNumber) + ".";
    return false;
  }
  std::string target = device;
  if (target[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
      error = "Cannot tell the current directory: " + ErrorText(errno);
      return false;
    }
    target = std::string(cwd) + "/" + target;
  }
  const std::string directory = PortLinkDirectory();
  if (!MakeDirectories(directory.substr(0, directory.size() - 1), error)) return false;
  // A new link under a temporary name renamed over the old one: the COMn link is never missing.
  const std::string link = LinkPath(comNumber);
  const std::string temporary = link + ".new" + std::to_string(getpid());
  unlink(temporary.c_str());
  if (symlink(target.c_str(), temporary.c_str()) != 0) {
    error = "Cannot create the link " + link + ": " + ErrorText(errno);
    return false;
  }
  if (rename(temporary.c_str(), link.c_str()) != 0) {
    error = "Cannot create the link " + link + ": " + ErrorText(errno);
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

void UnmapPort(int comNumber, const std::string& expectedTarget) {
  if (comNumber < 0) return;
  const std::string link = LinkPath(comNumber);
  const std::string target = LinkTarget(link);
  if (target.empty()) return;  // no link there: nothing of ours to remove
  if (!expectedTarget.empty() && target != expectedTarget) return;
  unlink(link.c_str());
}

namespace {

bool DeviceNumber(const std::string& path, dev_t& number) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  number = info.st_rdev;
  return true;
}

bool AllDigits(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// True when one of the process's open files is the character device number.
bool ProcessHolds(const std::string& fdDir, dev_t number) {
  DIR* dir = opendir(fdDir.c_str());
  if (dir == nullptr) return false;  // gone, or another user's process
  bool holds = false;
  while (const dirent* entry = readdir(dir)) {
    if (!AllDigits(entry->d_name)) continue;
    struct stat info {};
    if (stat((fdDir + entry->d_name).c_str(), &info) == 0 && S_ISCHR(info.st_mode) &&
        info.st_rdev == number) {
      holds = true;
      break;
    }
  }
  closedir(dir);
  return holds;
}

}  // namespace

std::vector<PortHolder> FindPortHolders(const std::string& device) {
  std::vector<PortHolder> holders;
  dev_t number = 0;
  if (!DeviceNumber(ResolvePortDevice(device), number)) return holders;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return holders;
  const std::string self = std::to_string(getpid());
  while (const dirent* entry = readdir(proc)) {
    if (!AllDigits(entry->d_name) || self == entry->d_name) continue;
    const std::string base = std::string("/proc/") + entry->d_name;
    if (!ProcessHolds(base + "/fd/", number)) continue;
    PortHolder holder;
    holder.pid = std::atoi(entry->d_name);
    std::ifstream comm(base + "/comm");
    std::getline(comm, holder.command);
    // assign, not = "?": GCC 12 at -O3 takes the literal assignment for an overlapping copy.
    if (holder.command.empty()) holder.command.assign(1, '?');
    holders.push_back(holder);
  }
  closedir(proc);
  return holders;
}

bool IsPseudoTerminal(const std::string& device) {
  dev_t number = 0;
  if (!DeviceNumber(ResolvePortDevice(device), number)) return false;
  // Unix98 pseudo-terminal slaves have majors 136 to 143.
  return major(number) >= 136 && major(number) <= 143;
}

}  // namespace vanta
