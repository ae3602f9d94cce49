// The places a production bench watches, alike on both systems: a directory of device nodes, or
// the system's list of COM ports.
#include <algorithm>

#include "platform/files.h"
#include "platform/serial_devices.h"

namespace vanta {

std::vector<std::string> ListDevicesAt(const std::string& place) {
  if (!place.empty()) return ListVisibleEntries(place);
  std::vector<std::string> names;
  for (const SerialDevice& device : FindSerialDevices()) {
    if (!device.exists) continue;
    names.insert(names.end(), device.comNames.begin(), device.comNames.end());
  }
  // Sorted as text, as the directory's names are: the watch looks names up by binary search.
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::string DeviceAt(const std::string& place, const std::string& name) {
  if (place.empty()) return name;
  return place.back() == '/' ? place + name : place + "/" + name;
}

std::string DevicePlaceText(const std::string& place) {
  return place.empty() ? "the system's COM ports" : place;
}

}  // namespace vanta
