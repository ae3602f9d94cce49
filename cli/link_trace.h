#pragma once
// --trace: every frame each way, speed changes and purges of one probe's link, written to
// standard error with a time stamp, so a user can see why a probe does not answer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/console.h"
#include "link/link_session.h"

namespace vanta::cli {

// One frame payload in words: direction, the header's sequence number, channel and length, the
// loader command's name (requests) or the echo (replies), and the first payload bytes in hex.
std::string DescribeFrame(const uint8_t* payload, size_t count, bool sent);

class LinkTrace : public LinkObserver {
 public:
  // label names the probe ("COM1") at the start of every line.
  LinkTrace(Console& console, std::string label);

  void FrameSent(const uint8_t* payload, size_t count) override;
  void FrameReceived(const uint8_t* payload, int32_t result) override;
  void SpeedChanged(uint32_t bitsPerSecond, ResultCode result) override;
  void InputPurged() override;

 private:
  void Line(const std::string& text);

  Console& console_;
  std::string label_;
};

}  // namespace vanta::cli
