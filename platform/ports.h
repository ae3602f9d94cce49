#pragma once
// The Port list's names COM1 ... COM19 and the devices they stand for on this host.
#include <string>
#include <vector>

namespace vanta {

// Per-user directory of COMn links: $XDG_CONFIG_HOME/Norvane/ports/ (default ~/.config/...),
// with a trailing '/'.
std::string PortLinkDirectory();

// COM number of "\\.\COMn" or "COMn" (n >= 0), or -1 when name is not of that form.
int ComNumber(const std::string& name);

// The device a port name stands for: for COMn the target of the link "COMn" in
// PortLinkDirectory() when the link exists (even when its target is gone), else /dev/ttyS<n-1>;
// any other name is returned unchanged (a device path).
std::string ResolvePortDevice(const std::string& name);

// Makes PortLinkDirectory()/COMn a symbolic link to device (replacing an older link; a relative
// device is taken from the current directory). Returns true on success; on failure error holds a
// sentence for the user.
bool MapPort(int comNumber, const std::string& device, std::string& error);

// Removes the COMn link if it exists and points where expectedTarget says ("" = any target).
void UnmapPort(int comNumber, const std::string& expectedTarget = "");

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
