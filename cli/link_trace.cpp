#include "cli/link_trace.h"

#include <cstdio>

#include "link/loader.h"

namespace vanta::cli {
namespace {

constexpr size_t kHexShown = 16;  // payload bytes shown after the header

std::string Hex(const uint8_t* bytes, size_t count) {
  std::string text;
  char piece[4];
  size_t shown = count < kHexShown ? count : kHexShown;
  for (size_t i = 0; i < shown; ++i) {
    std::snprintf(piece, sizeof piece, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += piece;
  }
  if (count > shown) text += " ...";
  return text;
}

std::string LinkControlName(const uint8_t* body, size_t count) {
  if (count == 0) return "link control";
  if (body[0] == 1) return "LINK_SYNC";
  if (body[0] == 3 && count >= 5) {
    uint32_t speed =
        (uint32_t{body[1]} << 24) | (uint32_t{body[2]} << 16) | (uint32_t{body[3]} << 8) | body[4];
    return "LINK_SET_SPEED " + std::to_string(speed);
  }
  char name[32];
  std::snprintf(name, sizeof name, "link control 0x%02X", body[0]);
  return name;
}

}  // namespace

std::string DescribeFrame(const uint8_t* payload, size_t count, bool sent) {
  std::string text = sent ? "-> " : "<- ";
  if (count < 2) return text + "short frame of " + std::to_string(count) + " byte(s)";
  unsigned sequence = payload[0] >> 6;
  bool channel = (payload[0] & 0x10) != 0;
  size_t length = (static_cast<size_t>(payload[0] & 0x07) << 8) | payload[1];
  const uint8_t* body = payload + 2;
  size_t bodyCount = count - 2;
  char header[64];
  std::snprintf(header, sizeof header, "seq %u ch %u len %zu", sequence, channel ? 1u : 0u, length);
  text += header;
  if (length != bodyCount) text += " (frame holds " + std::to_string(bodyCount) + ")";
  if (bodyCount > 0) {
    if (sent) {
      if (channel) {
        const char* name = LoaderCommandName(body[0]);
        char unknown[24];
        std::snprintf(unknown, sizeof unknown, "command 0x%02X", body[0]);
        text += "  ";
        text += name != nullptr ? name : unknown;
      } else {
        text += "  " + LinkControlName(body, bodyCount);
      }
    } else if (body[0] >= 0x20 && body[0] < 0x7F) {
      text += std::string("  echo '") + static_cast<char>(body[0]) + "'";
    }
    text += "  | " + Hex(body, bodyCount);
  }
  return text;
}

LinkTrace::LinkTrace(Console& console, std::string label)
    : console_(console), label_(std::move(label)) {}

void LinkTrace::Line(const std::string& text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%10.3f] ", console_.ElapsedSeconds());
  console_.Trace(stamp + label_ + " " + text);
}

void LinkTrace::FrameSent(const uint8_t* payload, size_t count) {
  Line(DescribeFrame(payload, count, true));
}

void LinkTrace::FrameReceived(const uint8_t* payload, int32_t result) {
  if (result < 0) {
    Line(std::string("<- ") + ResultName(result));
    return;
  }
  Line(DescribeFrame(payload, static_cast<size_t>(result), false));
}

void LinkTrace::SpeedChanged(uint32_t bitsPerSecond, ResultCode result) {
  Line("speed " + std::to_string(bitsPerSecond) + " bit/s" +
       (result == RESULT_OK ? "" : std::string(" refused (") + ResultName(result) + ")"));
}

void LinkTrace::InputPurged() {
  Line("purge input");
}

}  // namespace vanta::cli
