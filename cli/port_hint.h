#pragma once
// Why a serial device could not be used, in words a user can act on, from the reason the port
// gave: a COM name that maps to nothing, a link whose adapter is unplugged, a device the user may
// not open (not in the device's group, usually dialout), a device another program holds; or a
// port that opened but where no loader answered.
#include <nlohmann/json.hpp>
#include <string>

#include "platform/serial_port.h"

namespace vanta::cli {

// label is what the user named ("COM5" or a path), device what it resolved to, failure what the
// port said about its open (fault None: it opened, and the cause lies elsewhere).
std::string PortHint(const std::string& label, const std::string& device,
                     const OpenFailure& failure);

// The reason for --json: {"class": "no-device" | "permission-denied" | "busy" |
// "not-a-terminal" | "other" | "no-answer", "system": the system's text, "group", "holders"}.
nlohmann::json PortReasonJson(const OpenFailure& failure);

// The message and JSON reason of a device that went away under a running command.
std::string DeviceGoneText(const std::string& device);
nlohmann::json DeviceGoneReasonJson();

}  // namespace vanta::cli
