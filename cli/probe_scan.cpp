#include "cli/probe_scan.h"

#include <algorithm>
#include <exception>
#include <thread>

#include "cli/link_trace.h"
#include "cli/port_hint.h"
#include "platform/ports.h"
#include "update/image_catalogue.h"

namespace vanta::cli {
namespace {

// A probe that runs its firmware answers the first attempt from there and the second from its
// loader; a third covers a frame lost on the way. Connect's ten are for a user at the window.
constexpr int kScanAttempts = 3;

std::string ComText(const SerialDevice& port) {
  std::string text;
  for (const std::string& name : port.comNames) text += (text.empty() ? "" : ",") + name;
  return text;
}

void TryDevice(ScanRow& row, const ScanSettings& settings, Console& console) {
  const std::string& device = row.port.device;
  if (!row.port.exists) {
    row.finding = ScanFinding::Unusable;
    row.failure.fault = OpenFault::NoDevice;
    row.failure.device = device;
    return;
  }
  // A real serial device open elsewhere is reported, never opened: even an open that is refused
  // afterwards would change its modem lines under the program that uses it.
  if (!IsPseudoTerminal(device)) {
    std::vector<PortHolder> holders = FindPortHolders(device);
    if (!holders.empty()) {
      row.finding = ScanFinding::Unusable;
      row.failure.fault = OpenFault::Busy;
      row.failure.device = device;
      row.failure.holders = std::move(holders);
      return;
    }
  }

  ProbeLink link(MakeSerialPort());
  LinkTrace trace(console, ScanLabel(row));
  if (settings.trace) link.SetObserver(&trace);
  ResultCode result = SESSION_E_CLOSED;
  for (int attempt = 0; attempt < kScanAttempts && !link.DeviceGone(); ++attempt) {
    result = link.OpenLink(device, settings.speed);
    if (result == LINK_E_PORT && link.PortOpenFailure().fault != OpenFault::None) {
      row.finding = ScanFinding::Unusable;
      row.failure = link.PortOpenFailure();
      return;
    }
    // Silent at every speed: another attempt would only be as silent, and the scan stays short.
    if (result == SESSION_E_NO_REPLY) break;
    if (result != RESULT_OK) continue;
    result = ReadIdentity(link, row.identity);
    if (result == RESULT_OK) break;
    link.CloseLink();
  }
  if (link.DeviceGone()) {
    row.finding = ScanFinding::Gone;
  } else if (result != RESULT_OK) {
    row.finding = ScanFinding::NoAnswer;
  } else if (row.identity.loaderVersion == 0) {
    row.finding = ScanFinding::NotVanta7;
  } else {
    row.finding = ScanFinding::Probe;
    // Left as closing the window leaves it: the probe runs its firmware again.
    if (!settings.stayInLoader) StartFirmware(link);
  }
  link.CloseLink();
}

std::string FindingText(const ScanRow& row) {
  const DeviceIdentity& id = row.identity;
  switch (row.finding) {
    case ScanFinding::Probe:
      return "Vanta7 " + id.serialNumber + ", loader " + VersionText(id.loaderVersion) +
             ", firmware " + VersionText(id.firmwareVersion) + ", logic " +
             VersionText(id.logicVersion);
    case ScanFinding::NoAnswer:
      return "no loader answered";
    case ScanFinding::NotVanta7:
      return "a loader answered, but no Vanta7";
    case ScanFinding::Gone:
      return "disappeared while it was tried";
    case ScanFinding::Unusable:
      break;
  }
  const OpenFailure& failure = row.failure;
  switch (failure.fault) {
    case OpenFault::NoDevice:
      return row.port.exists ? "no device behind it" : "missing: the device does not exist";
    case OpenFault::Busy:
      return failure.holders.empty() ? "busy: locked or in exclusive use by another program"
                                     : "busy: open in " + HolderText(failure.holders);
    case OpenFault::PermissionDenied:
      return "not permitted: you may not open it (group '" + failure.group + "')";
    case OpenFault::NotATerminal:
      return "not a serial device";
    case OpenFault::Other:
    case OpenFault::None:
      break;
  }
  return "cannot be opened: " + failure.systemText;
}

}  // namespace

std::vector<ScanRow> ScanDevices(const std::vector<SerialDevice>& devices,
                                 const ScanSettings& settings, Console& console) {
  std::vector<ScanRow> rows(devices.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < devices.size(); ++i) {
    rows[i].port = devices[i];
    threads.emplace_back([&rows, &settings, &console, i] {
      try {
        TryDevice(rows[i], settings, console);
      } catch (const std::exception& error) {
        // Nothing in the core throws; an allocation failure leaves this row unanswered only.
        rows[i].finding = ScanFinding::Unusable;
        rows[i].failure.fault = OpenFault::Other;
        rows[i].failure.systemText = error.what();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  return rows;
}

std::string ScanLabel(const ScanRow& row) {
  return row.port.comNames.empty() ? row.port.device : row.port.comNames.front();
}

std::string FormatScan(const std::vector<ScanRow>& rows) {
  if (rows.empty()) return "No serial device found.\n";
  std::vector<std::vector<std::string>> table = {{"PORT", "COM", "BY-ID", "FOUND"}};
  for (const ScanRow& row : rows) {
    const std::string com = ComText(row.port);
    table.push_back({row.port.device, com.empty() ? "-" : com,
                     row.port.byId.empty() ? "-" : row.port.byId, FindingText(row)});
  }
  std::vector<size_t> widths(3, 0);
  for (const auto& line : table) {
    for (size_t column = 0; column < widths.size(); ++column) {
      widths[column] = std::max(widths[column], line[column].size());
    }
  }
  std::string text;
  for (const auto& line : table) {
    for (size_t column = 0; column < widths.size(); ++column) {
      text += line[column] + std::string(widths[column] - line[column].size() + 2, ' ');
    }
    text += line.back() + "\n";
  }
  return text;
}

nlohmann::json ScanJson(const std::vector<ScanRow>& rows) {
  nlohmann::json list = nlohmann::json::array();
  for (const ScanRow& row : rows) {
    nlohmann::json j = {
        {"port", row.port.device},
        {"byId", row.port.byId.empty() ? nlohmann::json() : nlohmann::json(row.port.byId)},
        {"com", row.port.comNames},
        {"probe", row.finding == ScanFinding::Probe}};
    switch (row.finding) {
      case ScanFinding::Probe:
        j["serial"] = row.identity.serialNumber;
        j["loader"] = VersionText(row.identity.loaderVersion);
        j["firmware"] = VersionText(row.identity.firmwareVersion);
        j["logic"] = VersionText(row.identity.logicVersion);
        break;
      case ScanFinding::NoAnswer:
        j["reason"] = PortReasonJson(OpenFailure{});
        break;
      case ScanFinding::NotVanta7:
        j["reason"] = {{"class", "not-a-vanta7"}};
        break;
      case ScanFinding::Gone:
        j["reason"] = DeviceGoneReasonJson();
        break;
      case ScanFinding::Unusable:
        j["reason"] = PortReasonJson(row.failure);
        break;
    }
    j["found"] = FindingText(row);
    list.push_back(j);
  }
  return list;
}

}  // namespace vanta::cli
