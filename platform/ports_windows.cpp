// Port names on Windows: COMn is the system's own port, opened as \\.\COMn. There are no links
// to make, and the system says nothing of which other program holds a port.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/ports.h"

namespace vanta {

std::string PortLinkDirectory() {
  return {};
}

bool PortNamesAreLinks() {
  return false;
}

bool IsPortMapped(int) {
  return false;
}

std::string ResolvePortDevice(const std::string& name) {
  const int number = ComNumber(name);
  if (number < 0) return name;
  return "\\\\.\\COM" + std::to_string(number);
}

bool PortDeviceExists(const std::string& device) {
  // The DOS device name behind \\.\COMn; any other name is a file path.
  std::string name = ResolvePortDevice(device);
  if (name.rfind("\\\\.\\", 0) == 0) {
    char target[1024];
    return QueryDosDeviceA(name.substr(4).c_str(), target, sizeof target) != 0;
  }
  return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

GroupAccess DeviceGroupAccess(const std::string&) {
  return GroupAccess::Unknown;
}

bool MapPort(int comNumber, const std::string&, std::string& error) {
  error = "Windows names its serial ports itself: use COM" + std::to_string(comNumber) +
          " as the system numbers it (Device Manager, Ports (COM & LPT)); there is nothing to map";
  return false;
}

void UnmapPort(int, const std::string&) {}

std::vector<PortHolder> FindPortHolders(const std::string&) {
  return {};
}

bool IsPseudoTerminal(const std::string&) {
  return false;
}

}  // namespace vanta
