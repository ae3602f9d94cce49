#pragma once
// Helpers shared by the fuzz targets: a byte-serving port and a clock that only moves when the
// port says time has passed. Every target reads its input where it lies, never through a file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/serial_port.h"

namespace vanta::fuzz {

// Time stands still except when the port reports it passing.
class FuzzClock : public Clock {
 public:
  uint32_t TickMs() override { return now; }
  void Sleep(uint32_t ms) override { now += ms; }
  uint32_t now = 0;
};

// Serves the given bytes one by one (each taking a millisecond); when they run out, every read
// waits out its time-out, or reports the line gone.
class FuzzPort : public SerialPort {
 public:
  FuzzPort(const uint8_t* data, size_t size, FuzzClock& clock, bool hangUpAtEnd)
      : data_(data), size_(size), clock_(clock), hangUpAtEnd_(hangUpAtEnd) {}

  PortStatus OpenPort(const std::string&) override { return PortStatus::Ok; }
  PortStatus SetPortSpeed(uint32_t bitsPerSecond) override {
    speed_ = bitsPerSecond;
    return PortStatus::Ok;
  }
  PortStatus DrainOutput(uint32_t) override { return PortStatus::Ok; }
  uint32_t Speed() const override { return speed_; }
  void PurgeInput() override {}
  PortStatus ReadByte(uint8_t& byte, uint32_t timeoutMs) override {
    ++reads;
    if (position_ < size_) {
      byte = data_[position_++];
      clock_.now += 1;
      return PortStatus::Ok;
    }
    if (hangUpAtEnd_) return PortStatus::Gone;
    clock_.now += timeoutMs;
    return PortStatus::TimedOut;
  }
  PortStatus WriteBlock(const uint8_t*, size_t) override { return PortStatus::Ok; }
  void ClosePort() override {}

  size_t Consumed() const { return position_; }
  uint64_t reads = 0;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
  FuzzClock& clock_;
  bool hangUpAtEnd_;
  uint32_t speed_ = 9600;
};

// Stops the run with a report the fuzzer keeps as a finding.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

}  // namespace vanta::fuzz
