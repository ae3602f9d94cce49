#pragma once
// What the command line prints when the probes are done: the result table, the info block, hex
// dumps, transmit summaries, and the same as JSON.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/probe_job.h"

namespace vanta::cli {

// Sixteen bytes a line: address, the bytes in hex, the printable ones as text.
std::string FormatHexDump(uint32_t address, const std::vector<uint8_t>& bytes);

// Port, serial, loader, firmware and logic versions (before -> after), time and result, one row a
// probe, columns aligned.
std::string FormatTable(const std::vector<ProbeResult>& results);

// One probe on one line, as a watch prints it when the probe is done: port, serial, loader,
// firmware and logic versions (before -> after), time and result.
std::string FormatProbeLine(const ProbeResult& result);

// The info block of one connected probe.
std::string FormatInfo(const ProbeResult& result);

// One line on what a successful transmit wrote where.
std::string FormatTransmitSummary(const ProbeResult& result);

// One line on what a successful backup or restore read or wrote.
std::string FormatFlashFileSummary(Command command, const ProbeResult& result);

// What setup show found: the block's fields, or that it is erased or malformed, and the
// stand-alone configuration.
std::string FormatStoredSetup(const ProbeResult& result);

// One line on a link check: speed reached, answers, round-trip times.
std::string FormatLinkCheck(const ProbeResult& result);

// JSON as text (indent -1: one line). Bytes that are no UTF-8 (a serial number a probe reports
// with stray bytes) come out as U+FFFD instead of ending the program.
std::string JsonText(const nlohmann::json& value, int indent = -1);

// Everything about one probe's run as a JSON object.
nlohmann::json ResultJson(Command command, const ProbeResult& result);

}  // namespace vanta::cli
