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

std::string JsonText(const nlohmann::json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace vanta::cli
