#pragma once
// Pieces of the soak that stand on their own: a port that corrupts what the tool sends, the
// time-out each wait of the link is allowed, and what a setup block must hold.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "link/link_session.h"
#include "platform/forwarding_port.h"
#include "setup/setup_block.h"

namespace vanta::soak {

// A serial port that changes bytes the tool writes at a rate (the line's other direction; the
// virtual probe garbles its own replies), and for the soak's self-check one whose time-outs come
// late.
class FaultyPort : public ForwardingPort {
 public:
  FaultyPort(std::unique_ptr<SerialPort> inner, uint32_t seed);
  void SetCorruptRate(double rate) { corruptRate_ = rate; }
  double CorruptRate() const { return corruptRate_; }
  // Every read that times out returns only its time-out plus ms later (a broken time-out that
  // waits more than twice as long as asked).
  void SetReadOverrunMs(uint32_t ms) { readOverrunMs_ = ms; }
  uint32_t ReadOverrunMs() const { return readOverrunMs_; }
  uint64_t CorruptedBytes() const { return corrupted_; }

  PortStatus ReadByte(uint8_t& byte, uint32_t timeoutMs) override;
  PortStatus WriteBlock(const uint8_t* data, size_t count) override;

 private:
  std::mt19937 rng_;
  std::atomic<double> corruptRate_{0};
  std::atomic<uint64_t> corrupted_{0};
  std::atomic<uint32_t> readOverrunMs_{0};
};

// Watches every wait of the link against the time-out that allows it. After the tool sends a
// frame, the reply's time-out (twice: the hunt, then one more wait for a byte lost inside the
// frame) is allowed until the receive returns; between link events (after a reply, a speed
// change or a purge) a short gap covers the settle time of a speed change and the wait after a
// reply from running firmware. A wait that runs past its allowance is an overrun; one that runs
// on far past it is a hang.
class TimeoutWatch : public LinkObserver {
 public:
  static constexpr int64_t kGapMs = 1500;

  // Starts watching now, with the link at speed.
  void Start(uint32_t speed);
  // Called when the flow has returned: the last gap counts as well.
  void Finish();
  // Milliseconds past the current allowance (negative while within it).
  int64_t OverdueMs() const;
  // The largest overrun of any wait so far, in milliseconds (0 when none).
  int64_t WorstOverrunMs() const;
  // Prints every link event to stderr (for one repeated run).
  void SetTrace(bool on) { trace_ = on; }

  void FrameSent(const uint8_t* payload, size_t count) override;
  void FrameReceived(const uint8_t* payload, int32_t result) override;
  void SpeedChanged(uint32_t bitsPerSecond, ResultCode result) override;
  void InputPurged() override;
  void LateReplyAwaited(uint32_t windowMs) override;

  // A loader command's own time on top of the line time, in milliseconds.
  static uint32_t CommandExtraMs(uint8_t code);
  // The time the link allows for one attempt of a frame of count payload bytes (header included).
  static int64_t AttemptAllowanceMs(const uint8_t* payload, size_t count, uint32_t speed);

 private:
  void Event(int64_t nextAllowanceMs);

  mutable std::mutex mutex_;
  uint32_t speed_ = 9600;
  int64_t lastEventMs_ = 0;
  int64_t allowanceMs_ = kGapMs;
  int64_t worstOverrunMs_ = 0;
  bool trace_ = false;
};

// The 104-byte block a Transmit must leave at SETUP_SECTOR, built from the texts (dotted quads
// that are well formed) and the probe's serial number.
std::vector<uint8_t> ExpectedSetupBlock(const std::string& serial, const SetupTexts& texts);

// A byte pattern that is never all 0xFF, so a stray erase shows.
std::vector<uint8_t> Pattern(size_t count, uint8_t seed);
// 120 '0'/'1' characters: the first 15 characters of text, NUL padded, most significant bit first.
std::string UesBits(const std::string& text);
std::string ThreeDigits(unsigned value);

}  // namespace vanta::soak
