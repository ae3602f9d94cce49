#pragma once
// The link session: opens the port, finds the probe's speed, moves both ends to the chosen one,
// and carries request/reply transactions with headers, sequence numbers and three attempts.
// One ProbeLink per port and no globals, so several probes can be served at once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/frame_codec.h"
#include "link/result_codes.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

namespace vanta {

inline constexpr uint32_t kSpeedTable[5] = {9600, 19200, 38400, 57600, 115200};
inline constexpr size_t kMaxRequest = 1498;  // request bytes behind the 2-byte header

// Speed of the Speed list's index; any index outside 0..4 gives 9600.
uint32_t SpeedFromIndex(int speedIndex);

// "\\.\COM%i" with portIndex + 1: index 0 gives \\.\COM1, index -1 gives \\.\COM0.
std::string DeviceNameFromIndex(int portIndex);

// Sees what crosses the link, for --trace and for counters. Called on the link's own thread.
class LinkObserver {
 public:
  virtual ~LinkObserver() = default;
  virtual void FrameSent(const uint8_t* payload, size_t count) = 0;
  // result is ReceiveFrame's: a length (payload holds it) or a negative code.
  virtual void FrameReceived(const uint8_t* payload, int32_t result) = 0;
  virtual void SpeedChanged(uint32_t bitsPerSecond, ResultCode result) = 0;
  virtual void InputPurged() = 0;
  // The link waits up to windowMs for a reply still owed by an attempt that timed out, to drop
  // it before the next request; a watch of the link's waits allows that much.
  virtual void LateReplyAwaited(uint32_t /*windowMs*/) {}
};

class ProbeLink {
 public:
  // A link over the host's serial ports.
  ProbeLink();
  // A link over the given transport; clock times the waits (300 ms, 1000 ms) and time-outs.
  explicit ProbeLink(std::unique_ptr<SerialPort> port, Clock& clock = SystemClock());
  ~ProbeLink();
  ProbeLink(const ProbeLink&) = delete;
  ProbeLink& operator=(const ProbeLink&) = delete;

  // OpenLink(DeviceNameFromIndex(portIndex), SpeedFromIndex(speedIndex)).
  ResultCode OpenLinkByIndex(int portIndex, int speedIndex);

  // Opens the port, negotiates the speed (requested speed limited to the port's top speed) and
  // leaves the link open with channel 0x10 and counter 0. LINK_E_PORT, SESSION_E_NO_REPLY or
  // SESSION_E_SPEED on failure, with the port closed. An open link is closed first.
  ResultCode OpenLink(const std::string& device, uint32_t requestedSpeed);

  // Sends count request bytes (first byte the command code) and returns the reply's payload
  // length, copied into dest; SESSION_E_CLOSED, SESSION_E_TOO_LONG (nothing sent),
  // SESSION_E_REPLY_TOO_LONG or SESSION_E_NO_REPLY. extraTimeoutMs is the command's own.
  int32_t Transact(const uint8_t* request, size_t count, uint8_t* dest, size_t capacity,
                   uint32_t extraTimeoutMs);

  // One attempt of a bulk transfer, which sends a lost piece again itself. The reply wait is the
  // line time of this request and of a reply of replyBytes (framing included), plus busyMs for
  // the probe's own work and a margin for the line: a lost piece costs about its own time, not
  // that of the largest frame. Same results as Transact.
  int32_t TransactOnce(const uint8_t* request, size_t count, uint8_t* dest, size_t capacity,
                       size_t replyBytes, uint32_t busyMs);

  // Milliseconds that bytes take on the line at the current speed, 10 bits a byte, rounded up.
  uint32_t LineTimeMs(size_t bytes) const;

  // Closes the port if the link is open; harmless at any time.
  void CloseLink();

  bool IsOpen() const { return open_; }
  uint32_t Speed() const;  // the port's current speed
  uint8_t Counter() const { return counter_; }
  Clock& GetClock() { return clock_; }

  // The loader's request and reply buffers (1500 bytes each); they live as long as the link.
  uint8_t* RequestBuffer() { return loaderRequest_; }
  uint8_t* ReplyBuffer() { return loaderReply_; }

  // Why the port could not be opened, after OpenLink returned LINK_E_PORT for it (fault None
  // otherwise); the flows see only LINK_E_PORT, the command line tells the user the reason.
  const OpenFailure& PortOpenFailure() const { return openFailure_; }

  // True once the port's device went away under the link (unplugged, hung up); every later
  // exchange fails at once instead of waiting out its attempts. Cleared by the next OpenLink.
  bool DeviceGone() const { return deviceGone_; }

  // DTR and RTS as the port's driver reports them (known false without modem lines).
  ModemLines PortModemLines() { return port_->GetModemLines(); }

  // True while the line has shown a fault lately (a reply lost, late, cut short, failing its
  // check byte or of the wrong length; or a fault a caller noted): from the fault until
  // kCleanToTrust transactions in a row have gone through at their first attempt. Readers whose
  // bytes end in a file confirm them meanwhile, since the frame's XOR byte passes two flips of one
  // bit position, and such pairs come only where single faults are seen too.
  bool LineRecentlyFaulty() const { return cleanInARow_ < kCleanToTrust; }
  // True while the line has shown more than one fault lately: a noisy line rather than one reply
  // that came late.
  bool LineNoisy() const { return LineRecentlyFaulty() && faultsLately_ >= 2; }
  // A fault the link cannot see: a reply of the wrong echo, two reads of one piece that differ.
  void NoteLineFault() { Fault(); }
  // Every fault the line has shown since the link was made: a reader compares it before and after
  // its reads to learn whether the line showed a fault meanwhile.
  uint64_t FaultsSeen() const { return faultsSeen_; }
  static constexpr uint32_t kCleanToTrust = 64;

  // Sees every frame, speed change and purge; nullptr to stop. Not owned.
  void SetObserver(LinkObserver* observer) { observer_ = observer; }

 private:
  ResultCode NegotiateSpeed(uint32_t requestedSpeed);
  // One link-control exchange at the current speed; the reply's length or a negative code.
  int32_t ControlExchange(const uint8_t* payload, size_t count);
  ResultCode ChangeSpeed(uint32_t bitsPerSecond);
  ResultCode Wake();
  // Notes a lost device from a result of the codec or the port.
  int32_t Noted(int32_t result);
  // Builds the header and sends up to attempts times; timeoutMs gives each attempt's reply wait.
  // Waits for the replies that attempts which timed out may still bring, within their window, and
  // drops them, so none is taken for the next request's.
  void DropLateReplies();
  // Sends the identify request whose reply marks the end of the late replies; false when the
  // send failed.
  bool SendMarker();
  void Fault() {
    ++faultsSeen_;
    cleanInARow_ = 0;
    if (faultsLately_ < UINT32_MAX) ++faultsLately_;
  }
  template <typename Timeout>
  int32_t Exchange(const uint8_t* request, size_t count, uint8_t* dest, size_t capacity,
                   int attempts, Timeout timeoutMs);

  std::unique_ptr<SerialPort> port_;
  Clock& clock_;
  LinkObserver* observer_ = nullptr;
  bool open_ = false;
  bool deviceGone_ = false;
  OpenFailure openFailure_;
  size_t lastWriteBytes_ = 0;  // bounds the wait for them to leave before a speed change
  uint8_t channel_ = 0x10;
  uint8_t counter_ = 0;
  uint32_t cleanInARow_ = kCleanToTrust;
  uint32_t faultsLately_ = 0;  // faults since the line was last trusted
  uint64_t faultsSeen_ = 0;    // every fault, for FaultsSeen()
  int owedReplies_ = 0;        // requests that went out whole and got no frame back
  uint32_t owedSinceMs_ = 0;   // when the wait for the next of them began
  uint32_t owedWindowMs_ = 0;  // how long each of them may take
  bool owedByPiece_ = false;   // owed by a one-attempt transaction (a piece in the loader)
  uint8_t request_[kMaxPayload] = {};
  uint8_t reply_[kMaxPayload] = {};
  uint8_t loaderRequest_[kMaxPayload] = {};
  uint8_t loaderReply_[kMaxPayload] = {};
};

}  // namespace vanta
