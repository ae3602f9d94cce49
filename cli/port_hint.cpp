#include "cli/port_hint.h"

#include <vector>

#include "platform/ports.h"

namespace vanta::cli {
namespace {

std::string NoDeviceText(const std::string& label, const std::string& device) {
  const bool isComName = ComNumber(label) >= 0;
  if (isComName && !PortNamesAreLinks()) {
    return label + " is no serial port of this machine (" + device +
           " does not exist); Device Manager lists the COM ports under 'Ports (COM & LPT)', and "
           "a USB serial adapter gets its COM number when it is plugged in";
  }
  if (isComName && IsPortMapped(ComNumber(label))) {
    return label + " is mapped to " + device + ", which does not exist (adapter " +
           "unplugged?); remap it with 'vantalink-cli ports --map " + label + " DEVICE'";
  }
  std::string text = "the device " + device + " does not exist";
  if (isComName) {
    text += "; point " + label + " at your adapter with 'vantalink-cli ports --map " + label +
            " /dev/ttyUSB0'";
  }
  return text;
}

std::string PermissionText(const std::string& device, const std::string& group) {
  const GroupAccess access = DeviceGroupAccess(device);
  if (access == GroupAccess::Unknown) {
    return "cannot reach " + device + ": permission denied on a directory of its path";
  }
  std::string text = "permission denied: you may not open " + device + " (group '" + group + "'); ";
  if (access == GroupAccess::RootGroup) {
    text +=
        "the device belongs to root's group; have your administrator give it to "
        "'dialout' (a udev rule) and add yourself with 'sudo usermod -aG dialout $USER'";
  } else if (access == GroupAccess::Member) {
    text += "you are in that group, but the device refuses group access; ask your administrator";
  } else {
    text +=
        "add yourself to the group with 'sudo usermod -aG " + group + " $USER' and log in again";
    if (group != "dialout") text += " (serial adapters usually belong to 'dialout')";
  }
  return text;
}

std::string BusyText(const std::string& device, const OpenFailure& failure) {
  if (!failure.holders.empty()) {
    return device + " is open in " + HolderText(failure.holders) +
           "; end that program or make it let go of the port";
  }
  return device +
         " is in use by another program (locked or in exclusive use); close the program that "
         "holds it";
}

const char* ReasonClass(OpenFault fault) {
  switch (fault) {
    case OpenFault::None:
      return "no-answer";
    case OpenFault::NoDevice:
      return "no-device";
    case OpenFault::PermissionDenied:
      return "permission-denied";
    case OpenFault::Busy:
      return "busy";
    case OpenFault::NotATerminal:
      return "not-a-terminal";
    case OpenFault::Other:
      return "other";
  }
  return "other";
}

}  // namespace

std::string PortHint(const std::string& label, const std::string& device,
                     const OpenFailure& failure) {
  std::string why;
  switch (failure.fault) {
    case OpenFault::None:
      return "the port opened but no loader answered on " + device +
             " (check cable, power, speed; try --trace)";
    case OpenFault::NoDevice:
      why = NoDeviceText(label, device);
      break;
    case OpenFault::PermissionDenied:
      why = PermissionText(device, failure.group);
      break;
    case OpenFault::Busy:
      why = BusyText(device, failure);
      break;
    case OpenFault::NotATerminal:
      why = device + " is not a serial device";
      break;
    case OpenFault::Other:
      why = device + ": " + failure.systemText;
      break;
  }
  return "the port could not be opened: " + why;
}

nlohmann::json PortReasonJson(const OpenFailure& failure) {
  nlohmann::json reason = {{"class", ReasonClass(failure.fault)}};
  if (failure.fault == OpenFault::None) return reason;
  if (!failure.systemText.empty()) reason["system"] = failure.systemText;
  if (!failure.group.empty()) reason["group"] = failure.group;
  if (!failure.holders.empty()) {
    nlohmann::json holders = nlohmann::json::array();
    for (const PortHolder& holder : failure.holders) {
      holders.push_back({{"pid", holder.pid}, {"command", holder.command}});
    }
    reason["holders"] = holders;
  }
  return reason;
}

std::string DeviceGoneText(const std::string& device) {
  return "the serial device " + device + " disappeared (unplugged?)";
}

nlohmann::json DeviceGoneReasonJson() {
  return {{"class", "device-gone"}};
}

}  // namespace vanta::cli
