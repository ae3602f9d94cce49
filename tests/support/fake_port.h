#pragma once
// A scripted serial port and a fake millisecond clock for unit tests of the link layers, and a
// small probe model that answers on the fake port. Time only moves when the code under test
// waits, so time-outs are checked exactly and without sleeping.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_port.h"

namespace vanta::test {

using Bytes = std::vector<uint8_t>;

class FakeClock final : public Clock {
 public:
  explicit FakeClock(uint32_t start = 0) : now(start) {}
  uint32_t TickMs() override { return now; }
  // Advances by the time asked, or by at most sleepGrain when that is set (a coarse sleeper).
  void Sleep(uint32_t ms) override;
  void Advance(uint32_t ms) { now += ms; }

  uint32_t now;
  uint32_t sleepGrain = 0;  // 0: a sleep advances the whole time
  uint64_t slept = 0;       // total of all sleeps
};

class FakePort final : public SerialPort {
 public:
  explicit FakePort(FakeClock& clock) : clock_(clock) {}

  // The line: bytes that arrive at the given tick (now, or later), gapMs apart.
  void Feed(const Bytes& bytes, uint32_t gapMs = 0) { FeedAt(clock_.now, bytes, gapMs); }
  void FeedAt(uint32_t tick, const Bytes& bytes, uint32_t gapMs = 0);
  size_t Pending() const { return incoming_.size(); }

  PortStatus OpenPort(const std::string& device) override;
  const OpenFailure& LastOpenFailure() const override { return openFailure; }
  PortStatus SetPortSpeed(uint32_t bitsPerSecond) override;
  // Waits (moving the clock) until the written bytes have left, or TimedOut one past timeoutMs.
  PortStatus DrainOutput(uint32_t timeoutMs) override;
  uint32_t Speed() const override { return speed_; }
  void PurgeInput() override;
  // A byte that arrives within the time-out is delivered at its arrival time; otherwise the clock
  // moves one past the time-out and TimedOut (Gone once hungUp is set).
  PortStatus ReadByte(uint8_t& byte, uint32_t timeoutMs) override;
  PortStatus WriteBlock(const uint8_t* data, size_t count) override;
  void ClosePort() override;

  // Script.
  PortStatus openResult = PortStatus::Ok;
  OpenFailure openFailure;           // what LastOpenFailure() reports
  std::set<uint32_t> refusedSpeeds;  // SetPortSpeed refuses these (the line keeps its speed)
  int failNextWrites = 0;            // the next N writes fail with LINK_E_WRITE
  bool hungUp = false;               // the other end is gone: reads fail once the line is empty
  // A UART whose written bytes leave at this pace (0: at once); a speed change before they
  // have left sends the rest at the wrong speed.
  uint32_t transmitMsPerByte = 0;
  // Sees every successful write (a probe model answers through Feed).
  std::function<void(const Bytes& written)> onWrite;

  // Record.
  bool isOpen = false;
  std::string openedDevice;
  int opens = 0;
  int closes = 0;
  int purges = 0;
  uint32_t lineSpeed = 0;               // the speed the line really runs at
  std::vector<uint32_t> speedRequests;  // every SetPortSpeed argument
  std::vector<Bytes> writes;            // every successful WriteBlock
  std::vector<uint32_t> readTimeouts;   // the time-out of every ReadByte that had to wait
  int speedChangesWhileSending = 0;     // SetPortSpeed calls with written bytes still leaving
  uint32_t sendingUntil = 0;            // the tick the last written byte has left

 private:
  struct Arrival {
    uint32_t tick;
    uint8_t byte;
  };
  FakeClock& clock_;
  uint32_t speed_ = 0;
  std::deque<Arrival> incoming_;
};

// A frame as the wire carries it, built independently of the codec under test.
Bytes WireFrame(const Bytes& payload);
// The payloads of the well-formed frames in bytes (raw bytes between frames are skipped).
std::vector<Bytes> WirePayloads(const Bytes& bytes);

// A probe's link end on a FakePort: answers the wake-up, LINK_SYNC and LINK_SET_SPEED when the
// port's line runs at its own speed, and hands loader requests to a handler.
class FakeProbe {
 public:
  FakeProbe(FakePort& port, FakeClock& clock, uint32_t speed = 9600);

  uint32_t speed;
  uint32_t answerSpeed = 0;        // speed named in the LINK_SET_SPEED reply; 0 = the one asked
  uint32_t replyDelayMs = 1;       // from the request to the reply's first byte
  size_t setSpeedReplyLength = 7;  // bytes of the LINK_SET_SPEED reply (cut or padded)
  bool moveToNamedSpeed = true;    // false: names a speed but stays where it is
  // Loader request (payload behind the header) -> reply body, or nullopt for no reply. Default:
  // the echo of the code byte.
  std::function<std::optional<Bytes>(const Bytes& request)> loader;
  // Every frame payload received at the right speed, header included.
  std::vector<Bytes> received;
  int syncs = 0;
  int setSpeeds = 0;

  // Queues a reply frame with this payload (header included) as the next thing on the line.
  void Send(const Bytes& payload);

 private:
  void OnWrite(const Bytes& written);
  FakePort& port_;
  FakeClock& clock_;
};

}  // namespace vanta::test
