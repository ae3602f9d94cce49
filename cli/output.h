#pragma once
// What the command line prints for every command when the probes are done: the result table, a
// probe's line, hex dumps and JSON text. Each command renders its own facts.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/probe_session.h"

namespace vanta::cli {

// Sixteen bytes a line: address, the bytes in hex, the printable ones as text.
std::string FormatHexDump(uint32_t address, const std::vector<uint8_t>& bytes);

// Port, serial, loader, firmware and logic versions (before -> after), time and result, one row a
// probe, columns aligned.
std::string FormatTable(const std::vector<ProbeResult>& results);

// One probe on one line, as a watch prints it when the probe is done: port, serial, loader,
// firmware and logic versions (before -> after), time and result.
std::string FormatProbeLine(const ProbeResult& result);

// JSON as text (indent -1: one line). Bytes that are no UTF-8 (a serial number a probe reports
// with stray bytes) come out as U+FFFD instead of ending the program.
std::string JsonText(const nlohmann::json& value, int indent = -1);

}  // namespace vanta::cli
