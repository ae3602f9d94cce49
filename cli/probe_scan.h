#pragma once
// vantalink-cli scan: every serial device the user could open, tried at once with a short
// connect, and what answered on each. A command without --port uses it to find its probe.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/console.h"
#include "link/loader.h"
#include "platform/serial_devices.h"
#include "platform/serial_port.h"

namespace vanta::cli {

struct ScanSettings {
  uint32_t speed = 9600;      // asked of a probe once the speed search has found it
  bool stayInLoader = false;  // else a probe's firmware is started again, as every command does
  bool trace = false;
};

enum class ScanFinding {
  Probe,      // a Vanta7 loader answered: identity holds what it reported
  NoAnswer,   // the device opened, but no loader answered
  NotVanta7,  // a loader answered, but reported no Vanta7
  Unusable,   // missing, busy, not permitted, ...: failure says why (a held device is not opened)
  Gone,       // the device went away while it was tried
};

struct ScanRow {
  SerialDevice port;
  ScanFinding finding = ScanFinding::NoAnswer;
  DeviceIdentity identity;
  OpenFailure failure;
};

// Tries every device at once and returns one row each, in the order given. A device another
// process holds (a pseudo-terminal excepted, whose other end holds it by design) and a COM
// link to nothing are reported without an open; a probe is left as every command leaves it.
std::vector<ScanRow> ScanDevices(const std::vector<SerialDevice>& devices,
                                 const ScanSettings& settings, Console& console);

// The name a command gives a row's device: its first COM name, else the device path.
std::string ScanLabel(const ScanRow& row);

// One line a row under a heading, columns aligned: port, COM names, by-id name, what answered.
std::string FormatScan(const std::vector<ScanRow>& rows);

// The rows as a JSON array: port, byId, com, probe, and serial and versions or the reason.
nlohmann::json ScanJson(const std::vector<ScanRow>& rows);

}  // namespace vanta::cli
