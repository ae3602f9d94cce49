// The COM ports of a Windows machine: the drivers enter each port they serve under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM; the DOS device names (QueryDosDevice) add those a driver
// left out of it (Wine names its ports there only).
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/ports.h"
#include "platform/serial_devices.h"

namespace vanta {
namespace {

void AddRegistryPorts(std::set<int>& numbers) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameSize = sizeof name;
    char data[64];
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    const LONG result = RegEnumValueA(key, index, name, &nameSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataSize] = '\0';
    const int number = ComNumber(std::string(data));
    if (number >= 1) numbers.insert(number);
  }
  RegCloseKey(key);
}

void AddDosDevicePorts(std::set<int>& numbers) {
  // The whole list of DOS device names, each ended by a null; grown until it fits.
  std::vector<char> names(65536);
  for (;;) {
    const DWORD n = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
    if (n != 0) {
      names.resize(n);
      break;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || names.size() >= (16u << 20)) return;
    names.resize(names.size() * 2);
  }
  for (size_t at = 0; at < names.size() && names[at] != '\0';) {
    const std::string name(&names[at]);
    const int number = ComNumber(name);
    if (number >= 1) numbers.insert(number);
    at += name.size() + 1;
  }
}

}  // namespace

// The system's COM ports: a port that appears in its list is a device plugged in.
std::string DefaultDevicePlace() {
  return "";
}

std::vector<SerialDevice> FindSerialDevices() {
  std::set<int> numbers;  // ordered by number: COM2 before COM10
  AddRegistryPorts(numbers);
  AddDosDevicePorts(numbers);
  std::vector<SerialDevice> devices;
  for (int number : numbers) {
    SerialDevice device;
    device.comNames = {"COM" + std::to_string(number)};
    device.device = ResolvePortDevice(device.comNames[0]);
    devices.push_back(device);
  }
  return devices;
}

}  // namespace vanta
