#pragma once
// Why a serial device could not be used, in words a user can act on: a COM name that maps to
// nothing, a link whose adapter is unplugged, or a device the user may not open (not in the
// device's group, usually dialout).
#include <string>

namespace vanta::cli {

// label is what the user named ("COM5" or a path), device what it resolved to. Returns "" when
// the device exists and may be opened (the cause lies elsewhere: cable, power, speed).
std::string PortHint(const std::string& label, const std::string& device);

}  // namespace vanta::cli
