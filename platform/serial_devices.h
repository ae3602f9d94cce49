#pragma once
// The serial devices of this host that a user could open, each once, with the names that lead
// to it: what a scan for probes tries.
#include <string>
#include <vector>

namespace vanta {

struct SerialDevice {
  std::string device;                 // the node, links resolved (a dangling link: its target)
  std::string byId;                   // a /dev/serial/by-id/ link to it, "" when there is none
  std::vector<std::string> comNames;  // the COM names that stand for it ("COM5"), lowest first
  bool exists = true;                 // false for a COM link whose device is gone
};

// /dev/serial/by-id/*, /dev/ttyUSB*, /dev/ttyACM*, the /dev/ttyS* with a UART behind them, and
// every COM link in PortLinkDirectory(), merged so that each device is listed once, in natural
// order of the device path (ttyS2 before ttyS10). An unmapped COM1 to COM19 names the /dev/ttyS
// it stands for. A /dev/ttyS held by another process is listed without being opened. On Windows
// the COM ports the system has (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM and the DOS device names),
// in the order of their numbers, each as \\.\COMn with its COM name.
std::vector<SerialDevice> FindSerialDevices();

// Where a production bench watches for devices that appear. A directory (Linux: by default
// /dev/serial/by-id, whose names stay with the adapter) or, as "" (the default on Windows), the
// system's COM ports: Windows has no directory of device nodes.
std::string DefaultDevicePlace();

// The names of the devices present at place now, sorted: the visible entries of the directory,
// or for "" the COM names of FindSerialDevices() ("COM5").
std::vector<std::string> ListDevicesAt(const std::string& place);

// The port name that opens the device listed as name at place: the path in the directory, or the
// COM name itself.
std::string DeviceAt(const std::string& place, const std::string& name);

// place as a message names it: the directory, or "the system's COM ports".
std::string DevicePlaceText(const std::string& place);

}  // namespace vanta
