#include "cli/port_hint.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/ports.h"

namespace vanta::cli {
namespace {

// Several probes' threads may ask at once, so the reentrant lookup.
std::string GroupName(gid_t gid) {
  group entry{};
  group* found = nullptr;
  std::vector<char> buffer(16384);
  if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->gr_name;
  }
  return std::to_string(gid);
}

bool InGroup(gid_t gid) {
  if (getegid() == gid) return true;
  int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  count = getgroups(count, groups.data());
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<size_t>(i)] == gid) return true;
  }
  return false;
}

}  // namespace

std::string PortHint(const std::string& label, const std::string& device) {
  bool isComName = ComNumber(label) >= 0;
  struct stat info {};
  if (stat(device.c_str(), &info) != 0) {
    int error = errno;
    struct stat linkInfo {};
    std::string link = PortLinkDirectory() + label;
    if (isComName && lstat(link.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
      return label + " is mapped to " + device + ", which does not exist (adapter " +
             "unplugged?); remap it with 'vantalink-cli ports --map " + label + " DEVICE'";
    }
    if (error == ENOENT || error == ENOTDIR) {
      std::string text = "the device " + device + " does not exist";
      if (isComName) {
        text += "; point " + label + " at your adapter with 'vantalink-cli ports --map " + label +
                " /dev/ttyUSB0'";
      }
      return text;
    }
    if (error == EACCES) {
      return "cannot reach " + device + ": permission denied on a directory of its path";
    }
    return "";
  }
  if (access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
    std::string group = GroupName(info.st_gid);
    std::string text =
        "permission denied: you may not open " + device + " (group '" + group + "'); ";
    if (info.st_gid == 0) {
      text +=
          "the device belongs to root's group; have your administrator give it to "
          "'dialout' (a udev rule) and add yourself with 'sudo usermod -aG dialout $USER'";
    } else if (InGroup(info.st_gid)) {
      text +=
          "you are in that group, but the device refuses group access; ask your "
          "administrator";
    } else {
      text +=
          "add yourself to the group with 'sudo usermod -aG " + group + " $USER' and log in again";
      if (group != "dialout") text += " (serial adapters usually belong to 'dialout')";
    }
    return text;
  }
  if (!S_ISCHR(info.st_mode)) return device + " is not a serial device";
  return "";
}

}  // namespace vanta::cli
