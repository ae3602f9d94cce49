#include "platform/serial_devices.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>

#include "platform/ports.h"

namespace vanta {
namespace {

std::vector<std::string> DirectoryEntries(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

// The number behind prefix in name ("ttyUSB3" gives 3), or -1 when name is not prefix+digits.
long NumberAfter(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
  long number = 0;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || number > 1000000) return -1;
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

std::string RealPath(const std::string& path) {
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer) == nullptr) return {};
  return buffer;
}

// True when a UART is behind a /dev/ttyS node: the 8250 driver makes a node for every port it
// might have, and only those with hardware report a port type.
bool HasUart(const std::string& path, const std::string& name) {
  const std::string sysfs = "/sys/class/tty/" + name;
  std::ifstream typeFile(sysfs + "/type");
  int type = -1;
  if (typeFile >> type) return type != PORT_UNKNOWN;
  // Older kernels let only root read the attribute: ask the driver instead, but never open a
  // port another process holds (it is listed, and the scan reports it as busy).
  if (!FindPortHolders(path).empty()) return true;
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    serial_struct info{};
    const bool known = ioctl(fd, TIOCGSERIAL, &info) == 0;
    close(fd);
    return !known || info.type != PORT_UNKNOWN;
  }
  if (errno == EIO || errno == ENXIO || errno == ENODEV || errno == ENOENT) return false;
  // Not ours to open (permission): the device link says whether the kernel found hardware.
  struct stat info {};
  return lstat((sysfs + "/device").c_str(), &info) == 0;
}

// a < b with runs of digits compared as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool digitA = a[i] >= '0' && a[i] <= '9';
    const bool digitB = b[j] >= '0' && b[j] <= '9';
    if (digitA && digitB) {
      size_t endA = i, endB = j;
      while (endA < a.size() && a[endA] >= '0' && a[endA] <= '9') ++endA;
      while (endB < b.size() && b[endB] >= '0' && b[endB] <= '9') ++endB;
      const std::string runA = a.substr(i, endA - i), runB = b.substr(j, endB - j);
      const size_t zerosA = runA.find_first_not_of('0'), zerosB = runB.find_first_not_of('0');
      const std::string valueA = zerosA == std::string::npos ? "" : runA.substr(zerosA);
      const std::string valueB = zerosB == std::string::npos ? "" : runB.substr(zerosB);
      if (valueA.size() != valueB.size()) return valueA.size() < valueB.size();
      if (valueA != valueB) return valueA < valueB;
      i = endA;
      j = endB;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

}  // namespace

// udev names each adapter there after itself and its serial number, so a name that comes back
// is the same adapter plugged in again.
std::string DefaultDevicePlace() {
  return "/dev/serial/by-id";
}

std::vector<SerialDevice> FindSerialDevices() {
  std::map<std::string, SerialDevice> found;  // by device path
  auto add = [&found](const std::string& device, bool exists) -> SerialDevice& {
    SerialDevice& entry = found[device];
    entry.device = device;
    entry.exists = exists;
    return entry;
  };

  for (const std::string& name : DirectoryEntries("/dev")) {
    const std::string path = "/dev/" + name;
    if (NumberAfter(name, "ttyUSB") >= 0 || NumberAfter(name, "ttyACM") >= 0) {
      add(path, true);
    } else if (NumberAfter(name, "ttyS") >= 0 && HasUart(path, name)) {
      add(path, true);
    }
  }

  const std::string byIdDirectory = "/dev/serial/by-id/";
  std::vector<std::string> byIdNames = DirectoryEntries(byIdDirectory);
  std::sort(byIdNames.begin(), byIdNames.end());
  for (const std::string& name : byIdNames) {
    const std::string device = RealPath(byIdDirectory + name);
    if (device.empty()) continue;  // unplugged while we looked
    SerialDevice& entry = add(device, true);
    if (entry.byId.empty()) entry.byId = byIdDirectory + name;
  }

  std::vector<std::pair<long, std::string>> links;
  for (const std::string& name : DirectoryEntries(PortLinkDirectory())) {
    const long number = NumberAfter(name, "COM");
    if (number >= 1) links.emplace_back(number, name);
  }
  std::sort(links.begin(), links.end());
  for (const auto& [number, name] : links) {
    const std::string target = ResolvePortDevice(name);
    const std::string device = RealPath(target);
    SerialDevice& entry = device.empty() ? add(target, false) : add(device, true);
    entry.comNames.push_back(name);
  }

  // An unmapped COMn stands for /dev/ttyS<n-1>.
  for (auto& [device, entry] : found) {
    const long index = NumberAfter(device, "/dev/ttyS");
    if (index < 0) continue;
    const std::string name = "COM" + std::to_string(index + 1);
    struct stat info {};
    if (lstat((PortLinkDirectory() + name).c_str(), &info) != 0) {
      entry.comNames.push_back(name);
    }
  }

  std::vector<SerialDevice> devices;
  for (auto& [device, entry] : found) {
    std::sort(entry.comNames.begin(), entry.comNames.end(), NaturalLess);
    devices.push_back(std::move(entry));
  }
  std::sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
    return NaturalLess(a.device, b.device);
  });
  return devices;
}

}  // namespace vanta
