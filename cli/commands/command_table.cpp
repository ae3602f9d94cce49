#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "cli/commands/command.h"
#include "platform/ports.h"

namespace vanta::cli {
namespace {

nlohmann::json Versions(const DeviceIdentity& identity) {
  return {{"loader", VersionText(identity.loaderVersion)},
          {"firmware", VersionText(identity.firmwareVersion)},
          {"logic", VersionText(identity.logicVersion)},
          {"loaderVersion", identity.loaderVersion},
          {"firmwareVersion", identity.firmwareVersion},
          {"logicVersion", identity.logicVersion}};
}

}  // namespace

// The traits here are what the README and the help promise: which commands --watch serves, which
// print one object under --json for one probe, which end with the result table.
const std::vector<CommandRow>& CommandTable() {
  static const std::vector<CommandRow> kTable = {
      //  name           perProbe watchable oneObject table
      {"link-check", {true, false, true, false}, &kLinkCheckPage, MakeLinkCheck},
      {"info", {true, true, true, false}, &kInfoPage, MakeInfo},
      {"read-memory", {true, false, true, false}, &kReadMemoryPage, MakeReadMemory},
      {"update", {true, true, false, true}, &kUpdatePage, MakeUpdate},
      {"erase", {true, true, false, true}, &kErasePage, MakeErase},
      {"transmit", {true, true, false, true}, &kTransmitPage, MakeTransmit},
      {"backup", {true, false, true, false}, &kBackupPage, MakeBackup},
      {"restore", {true, false, true, true}, &kRestorePage, MakeRestore},
      {"setup", {true, false, true, false}, &kSetupPage, MakeSetupShow},
      {"scan", {false, false, false, false}, &kScanPage, MakeScan},
      {"ports", {false, false, false, false}, &kPortsPage, MakePorts},
  };
  return kTable;
}

const CommandRow* FindCommand(const std::string& name) {
  for (const CommandRow& row : CommandTable()) {
    if (name == row.name) return &row;
  }
  return nullptr;
}

nlohmann::json ResultJson(const CliCommand& command, const ProbeResult& r) {
  nlohmann::json j = {{"port", r.label},
                      {"device", r.device},
                      {"result", r.status == EXIT_OK ? "ok" : "failed"},
                      {"exitStatus", static_cast<int>(r.status)},
                      {"seconds", r.seconds}};
  if (r.status != EXIT_OK) {
    j["error"] = ErrorJson(r.outcome,
                           r.outcome.passed || r.deviceGone ? r.error : OutcomeSentence(r.outcome),
                           r.detail, r.portReason);
  }
  if (!r.hint.empty()) j["hint"] = r.hint;
  if (r.haveBefore) {
    j["serial"] = r.before.serialNumber;
    j["mac"] = r.macAddress;
  }
  command.AddJson(r, j);
  return j;
}

void AddBeforeAfter(const ProbeResult& r, nlohmann::json& j) {
  if (r.haveBefore) j["before"] = Versions(r.before);
  if (r.haveAfter) j["after"] = Versions(r.after);
}

void AddVersions(const DeviceIdentity& identity, nlohmann::json& j) {
  j.update(Versions(identity));
}

bool ParseNumber(const std::string& text, uint64_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(text.c_str(), &end, 0);
  return errno == 0 && end != nullptr && *end == '\0';
}

CLI::Validator NumberIn(uint64_t low, uint64_t high, const std::string& what) {
  return CLI::Validator(
      [low, high, what](std::string& text) -> std::string {
        uint64_t value = 0;
        if (ParseNumber(text, value) && value >= low && value <= high) return "";
        return "'" + text + "' is no " + what;
      },
      "", "");
}

int ComNameNumber(const std::string& text) {
  if (text.size() < 4) return -1;
  std::string upper;
  for (char c : text) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.rfind("COM", 0) != 0) return -1;
  return ComNumber(upper);
}

ScanSettings ScanSettingsOf(const JobSettings& settings) {
  ScanSettings scan;
  scan.speed = settings.speed != 0 ? settings.speed : SpeedFromIndex(settings.speedIndex);
  scan.stayInLoader = settings.stayInLoader;
  scan.trace = settings.trace;
  return scan;
}

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string Printable(std::string text) {
  for (char& c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) c = '.';
  }
  return text;
}

}  // namespace vanta::cli
