#pragma once
// Pieces of the soak that stand on their own: a port that corrupts what the tool sends, the
// time-out budget a flow's own waits allow, and what a setup block must hold.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "link/link_session.h"
#include "platform/serial_port.h"

namespace vanta::soak {

// A serial port that changes bytes the tool writes at a rate (the line's other direction; the
// virtual probe garbles its own replies).
class FaultyPort : public SerialPort {
 public:
  FaultyPort(std::unique_ptr<SerialPort> inner, uint32_t seed);
  void SetCorruptRate(double rate) { corruptRate_ = rate; }
  double CorruptRate() const { return corruptRate_; }
  uint64_t CorruptedBytes() const { return corrupted_; }

  ResultCode OpenPort(const std::string& device) override { return inner_->OpenPort(device); }
  ResultCode SetPortSpeed(uint32_t bitsPerSecond) override {
    return inner_->SetPortSpeed(bitsPerSecond);
  }
  uint32_t Speed() const override { return inner_->Speed(); }
  void PurgeInput() override { inner_->PurgeInput(); }
  ResultCode ReadByte(uint8_t& byte, uint32_t timeoutMs) override {
    return inner_->ReadByte(byte, timeoutMs);
  }
  ResultCode WriteBlock(const uint8_t* data, size_t count) override;
  void ClosePort() override { inner_->ClosePort(); }

 private:
  std::unique_ptr<SerialPort> inner_;
  std::mt19937 rng_;
  std::atomic<double> corruptRate_{0};
  std::atomic<uint64_t> corrupted_{0};
};

// Adds up, frame by frame, the longest time the link may take for what the tool sends: each
// attempt's reply time-out (twice: the hunt, then one more wait for a byte lost inside the frame),
// the settle time of every speed change and the wait after a reply from running firmware. A flow
// that runs longer than this has waited where none of its time-outs allow.
class BudgetObserver : public LinkObserver {
 public:
  void Start(uint32_t speed);
  int64_t BudgetMs() const { return budgetMs_; }
  // Prints every link event to stderr (for one repeated run).
  void SetTrace(bool on) { trace_ = on; }

  void FrameSent(const uint8_t* payload, size_t count) override;
  void FrameReceived(const uint8_t* payload, int32_t result) override;
  void SpeedChanged(uint32_t bitsPerSecond, ResultCode result) override;
  void InputPurged() override {}

  // A loader command's own time on top of the line time, in milliseconds.
  static uint32_t CommandExtraMs(uint8_t code);

 private:
  std::atomic<uint32_t> speed_{9600};
  std::atomic<int64_t> budgetMs_{0};
  bool trace_ = false;
};

// The five setup texts as typed.
struct SetupFieldsText {
  std::string probeIp, subnetMask, gateway, configHost, configFile;
};

// The 104-byte block a Transmit must leave at SETUP_SECTOR, built from the texts (dotted quads
// that are well formed) and the probe's serial number.
std::vector<uint8_t> ExpectedSetupBlock(const std::string& serial, const SetupFieldsText& texts);

// A byte pattern that is never all 0xFF, so a stray erase shows.
std::vector<uint8_t> Pattern(size_t count, uint8_t seed);
// 120 '0'/'1' characters: the first 15 characters of text, NUL padded, most significant bit first.
std::string UesBits(const std::string& text);
std::string ThreeDigits(unsigned value);

}  // namespace vanta::soak
