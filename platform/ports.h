#pragma once
// The Port list's names COM1 ... COM19 and the devices they stand for on this host. On Linux a
// COM name is a link the user makes to a device; on Windows it is the system's own port name.
#include <string>
#include <vector>

namespace vanta {

// Per-user directory of COMn links: $XDG_CONFIG_HOME/Norvane/ports/ (default ~/.config/...),
// with a trailing '/'. "" on Windows, which names its ports itself.
std::string PortLinkDirectory();

// True where a COM name stands for a link the user makes with MapPort (Linux); false where the
// system names its ports (Windows: MapPort refuses, COMn is the port \\.\COMn).
bool PortNamesAreLinks();

// True when the COMn link exists (its target may be gone); always false on Windows.
bool IsPortMapped(int comNumber);

// COM number of "\\.\COMn" or "COMn" (n >= 0), or -1 when name is not of that form.
int ComNumber(const std::string& name);

// The device a port name stands for: for COMn the target of the link "COMn" in
// PortLinkDirectory() when the link exists (even when its target is gone), else /dev/ttyS<n-1>;
// on Windows \\.\COMn (the form that reaches COM10 and above too). Any other name is returned
// unchanged (a device path).
std::string ResolvePortDevice(const std::string& name);

// Makes PortLinkDirectory()/COMn a symbolic link to device (replacing an older link; a relative
// device is taken from the current directory). Returns true on success; on failure error holds a
// sentence for the user.
bool MapPort(int comNumber, const std::string& device, std::string& error);

// Removes the COMn link if it exists and points where expectedTarget says ("" = any target).
void UnmapPort(int comNumber, const std::string& expectedTarget = "");

// True when device (a path or COM name) is there to be opened: the node exists (a link is
// followed), or on Windows the system has the COM port.
bool PortDeviceExists(const std::string& device);

// How the group that owns device stands to the calling user, for the advice on a refused open.
enum class GroupAccess {
  Unknown,    // the device cannot be examined (a directory of its path refuses; Windows)
  RootGroup,  // it belongs to root's group
  Member,     // the user is in its group
  NotMember,
};
GroupAccess DeviceGroupAccess(const std::string& device);

// A process that has a device open.
struct PortHolder {
  int pid = 0;
  std::string command;  // its name as the system lists it ("ModemManager")
};

// The other processes that have device (a path or COM name) open, found as fuser does among
// /proc/*/fd; this process is left out. Needs no open of the device. Processes of other users
// show only to root. Empty when the device does not exist.
std::vector<PortHolder> FindPortHolders(const std::string& device);

// True for a pseudo-terminal's slave side: the process at its other end normally holds it open,
// so holders do not count against it.
bool IsPseudoTerminal(const std::string& device);

// "ModemManager (pid 812)", several joined by ", ".
std::string HolderText(const std::vector<PortHolder>& holders);

}  // namespace vanta
