#include "cli/output.h"

#include <algorithm>
#include <cstdio>

namespace vanta::cli {
namespace {

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

// "1.04 -> 1.05", or one version when it did not change or there is no later reading.
std::string BeforeAfter(const ProbeResult& result, uint16_t before, uint16_t after) {
  if (!result.haveBefore) return "-";
  std::string text = VersionText(before);
  if (result.haveAfter && after != before) text += " -> " + VersionText(after);
  return text;
}

std::string ResultText(const ProbeResult& result) {
  if (result.status == EXIT_OK) return "ok";
  return "FAILED (" + std::to_string(result.status) + ") " + result.error;
}

nlohmann::json Versions(const DeviceIdentity& identity) {
  return {{"loader", VersionText(identity.loaderVersion)},
          {"firmware", VersionText(identity.firmwareVersion)},
          {"logic", VersionText(identity.logicVersion)},
          {"loaderVersion", identity.loaderVersion},
          {"firmwareVersion", identity.firmwareVersion},
          {"logicVersion", identity.logicVersion}};
}

std::string HexText(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

// The failure as a program reads it: stage and code decide, the texts only explain.
nlohmann::json ErrorJson(const ProbeResult& r) {
  nlohmann::json error = {
      {"stage", StageName(r.outcome.stage)},
      {"code", r.outcome.code},
      {"name", ResultName(r.outcome.code)},
      {"message", r.outcome.passed || r.deviceGone ? r.error : OutcomeSentence(r.outcome)}};
  if (!r.detail.empty()) error["detail"] = r.detail;
  if (r.outcome.hasAddress) error["address"] = r.outcome.address;
  if (!r.portReason.is_null()) error["reason"] = r.portReason;
  return error;
}

}  // namespace

std::string FormatHexDump(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::string text;
  char piece[16];
  for (size_t line = 0; line < bytes.size(); line += 16) {
    std::snprintf(piece, sizeof piece, "%08X ", static_cast<uint32_t>(address + line));
    text += piece;
    std::string printable;
    for (size_t i = 0; i < 16; ++i) {
      if (i == 8) text += ' ';
      if (line + i < bytes.size()) {
        uint8_t byte = bytes[line + i];
        std::snprintf(piece, sizeof piece, " %02X", byte);
        text += piece;
        printable += (byte >= 0x20 && byte < 0x7F) ? static_cast<char>(byte) : '.';
      } else {
        text += "   ";
      }
    }
    text += "  |" + printable + "|\n";
  }
  return text;
}

std::string FormatTable(const std::vector<ProbeResult>& results) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"PORT", "SERIAL", "LOADER", "FIRMWARE", "LOGIC", "TIME", "RESULT"});
  for (const ProbeResult& r : results) {
    rows.push_back({r.label,
                    r.haveBefore && !r.before.serialNumber.empty() ? r.before.serialNumber : "-",
                    r.haveBefore ? VersionText(r.before.loaderVersion) : "-",
                    BeforeAfter(r, r.before.firmwareVersion, r.after.firmwareVersion),
                    BeforeAfter(r, r.before.logicVersion, r.after.logicVersion), Seconds(r.seconds),
                    ResultText(r)});
  }
  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::string text;
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    text += line + "\n";
  }
  return text;
}

std::string FormatProbeLine(const ProbeResult& r) {
  return r.label + "  serial " +
         (r.haveBefore && !r.before.serialNumber.empty() ? r.before.serialNumber : "-") +
         "  loader " + (r.haveBefore ? VersionText(r.before.loaderVersion) : "-") + "  firmware " +
         BeforeAfter(r, r.before.firmwareVersion, r.after.firmwareVersion) + "  logic " +
         BeforeAfter(r, r.before.logicVersion, r.after.logicVersion) + "  " + Seconds(r.seconds) +
         "  " + ResultText(r);
}

std::string FormatInfo(const ProbeResult& r) {
  std::string text;
  text += "Port:      " + r.label + (r.label != r.device ? " (" + r.device + ")" : "") + "\n";
  text += "Serial:    " + r.before.serialNumber + "\n";
  text += "MAC:       " + r.macAddress + "\n";
  text += "Loader:    " + VersionText(r.before.loaderVersion) + "\n";
  text += "Firmware:  " + VersionText(r.before.firmwareVersion) + "  (newest image " +
          VersionText(r.newestFirmware) + ")\n";
  text += "Logic:     " + VersionText(r.before.logicVersion) + "  (newest image " +
          VersionText(r.newestLogic) + ")\n";
  text += std::string("Update:    ") + (r.updateAvailable ? "available" : "not needed") + "\n";
  return text;
}

std::string FormatTransmitSummary(const ProbeResult& r) {
  const nlohmann::json& d = r.details;
  if (!d.contains("setupBlock")) return "";
  std::string text = r.label + " (" + r.before.serialNumber + "): setup block of " +
                     std::to_string(d["setupBlock"]["bytes"].get<size_t>()) + " bytes written at " +
                     d["setupBlock"]["address"].get<std::string>() + " and verified: IP " +
                     d["probeIp"].get<std::string>() + ", mask " +
                     d["subnetMask"].get<std::string>() + ", gateway " +
                     d["gateway"].get<std::string>() + ", host " +
                     d["configHost"].get<std::string>() + ", file \"" +
                     d["configFile"].get<std::string>() + "\"; ";
  if (d["standAlone"].get<bool>()) {
    text +=
        "stand-alone configuration: " + std::to_string(d["configImage"]["bytes"].get<uint32_t>()) +
        " bytes of the file at " + d["configImage"]["address"].get<std::string>() +
        ", register image of " + std::to_string(d["registerImage"]["bytes"].get<uint32_t>()) +
        " bytes at " + d["registerImage"]["address"].get<std::string>();
  } else {
    text += "configuration sector " + d["configSectorErased"].get<std::string>() + " erased";
  }
  return text + "\n";
}

std::string FormatStoredSetup(const ProbeResult& r) {
  const nlohmann::json& d = r.details;
  const nlohmann::json& block = d["setupBlock"];
  const std::string state = block["state"];
  std::string text = "Setup block at " + block["address"].get<std::string>() + ": ";
  if (state == "erased") return text + "erased (no setup stored)\n";
  if (state == "malformed")
    return text + "malformed (" + block["problem"].get<std::string>() + ")\n";
  text += "valid\n";
  text += "MAC:          " + block["mac"].get<std::string>() + "\n";
  text += "IP address:   " + block["probeIp"].get<std::string>() + "\n";
  text += "Subnet mask:  " + block["subnetMask"].get<std::string>() + "\n";
  text += "Gateway:      " + block["gateway"].get<std::string>() + "\n";
  text +=
      "Config host:  " + block["configHost"].get<std::string>() +
      (block["standAlone"].get<bool>() ? " (stand-alone: the configuration is in the probe)" : "") +
      "\n";
  text += "Config file:  \"" + block["configFile"].get<std::string>() + "\"\n";
  if (!d.contains("configImage")) return text;
  const nlohmann::json& config = d["configImage"];
  text += "Stored configuration file at " + config["address"].get<std::string>() + ": " +
          std::to_string(config["bytes"].get<size_t>()) + " bytes\n";
  for (const auto& line : config["firstLines"]) text += "  | " + line.get<std::string>() + "\n";
  const nlohmann::json& image = d["registerImage"];
  text += "Register records at " + image["address"].get<std::string>() + ": " +
          std::to_string(image["records"].size()) + " (" +
          std::to_string(image["bytes"].get<size_t>()) + " bytes)\n";
  for (const auto& record : image["records"]) {
    text += "  tag " + record["tag"].get<std::string>() + "  " +
            std::to_string(record["bytes"].get<uint32_t>()) + " bytes  " +
            record["name"].get<std::string>() + "\n";
  }
  if (d.contains("extracted")) {
    for (const auto& path : d["extracted"])
      text += "Extracted:    " + path.get<std::string>() + "\n";
  }
  return text;
}

std::string FormatFlashFileSummary(Command command, const ProbeResult& r) {
  const nlohmann::json& d = r.details;
  if (r.status != EXIT_OK || !d.contains("file")) return "";
  if (command == Command::Backup) {
    return r.label + " (" + r.before.serialNumber +
           "): " + std::to_string(d["length"].get<uint32_t>()) + " bytes from " +
           d["address"].get<std::string>() + " written to " + d["file"].get<std::string>() + "\n";
  }
  std::string sectors;
  for (const auto& sector : d["sectors"]) {
    sectors += (sectors.empty() ? "" : ", ") + sector.get<std::string>();
  }
  return r.label + " (" + r.before.serialNumber + "): " + d["file"].get<std::string>() +
         " programmed and read back; sectors erased: " + sectors + "\n";
}

std::string FormatLinkCheck(const ProbeResult& r) {
  const nlohmann::json& d = r.details;
  if (!d.contains("speedReached")) return "";
  char text[256];
  std::string times = "no round trip";
  if (d.contains("roundTripMs")) {
    char piece[128];
    std::snprintf(piece, sizeof piece, "round trip min %.2f / avg %.2f / max %.2f ms",
                  d["roundTripMs"]["min"].get<double>(), d["roundTripMs"]["avg"].get<double>(),
                  d["roundTripMs"]["max"].get<double>());
    times = piece;
  }
  std::snprintf(text, sizeof text,
                "%s: link at %u bit/s (asked %u); %d of %d transactions "
                "answered; %s\n",
                r.label.c_str(), d["speedReached"].get<uint32_t>(), d["speedAsked"].get<uint32_t>(),
                d["answered"].get<int>(), d["transactions"].get<int>(), times.c_str());
  std::string lines = text;
  if (d.contains("modemLines")) {
    const nlohmann::json& m = d["modemLines"];
    lines += r.label + ": modem lines: " +
             (m.is_object()
                  ? "DTR " + m["dtr"].get<std::string>() + ", RTS " + m["rts"].get<std::string>()
                  : std::string("not available")) +
             "\n";
  }
  return lines;
}

std::string JsonText(const nlohmann::json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json ResultJson(Command command, const ProbeResult& r) {
  nlohmann::json j = {{"port", r.label},
                      {"device", r.device},
                      {"result", r.status == EXIT_OK ? "ok" : "failed"},
                      {"exitStatus", static_cast<int>(r.status)},
                      {"seconds", r.seconds}};
  if (r.status != EXIT_OK) j["error"] = ErrorJson(r);
  if (r.rewrittenSectors > 0) j["rewrittenSectors"] = r.rewrittenSectors;
  if (!r.hint.empty()) j["hint"] = r.hint;
  if (r.haveBefore) {
    j["serial"] = r.before.serialNumber;
    j["mac"] = r.macAddress;
  }
  if (command == Command::Info) {
    if (r.haveBefore) j.update(Versions(r.before));
    j["newestFirmware"] = VersionText(r.newestFirmware);
    j["newestLogic"] = VersionText(r.newestLogic);
    j["updateAvailable"] = r.updateAvailable;
  } else if (command != Command::LinkCheck) {
    if (r.haveBefore) j["before"] = Versions(r.before);
    if (r.haveAfter) j["after"] = Versions(r.after);
  }
  if (command == Command::ReadMemory) j["data"] = HexText(r.memory);
  for (const auto& [key, value] : r.details.items()) j[key] = value;
  return j;
}

}  // namespace vanta::cli
