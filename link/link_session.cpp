#include "link/link_session.h"

#include <algorithm>
#include <cstring>

#include "link/loader.h"
#include "link/packing.h"

namespace vanta {
namespace {

constexpr uint8_t kLinkSync[3] = {0x00, 0x01, 0x01};
constexpr uint8_t kWakeUp[2] = {0xDB, 0xDE};
constexpr uint8_t kSetSpeedCode = 0x03;
constexpr uint32_t kControlTimeoutMs = 200;  // per byte of a link-control reply
constexpr uint32_t kSettleMs = 300;          // lets the probe's UART follow a speed change
constexpr int kAttempts = 3;
// What a sized reply wait allows beyond the line time: the time the host takes to hand the bytes
// over and to wake the reader (USB adapters poll every millisecond, a loaded host schedules late).
constexpr uint32_t kLineMarginMs = 20;

}  // namespace

uint32_t SpeedFromIndex(int speedIndex) {
  if (speedIndex < 0 || speedIndex > 4) return kSpeedTable[0];
  return kSpeedTable[speedIndex];
}

std::string DeviceNameFromIndex(int portIndex) {
  return "\\\\.\\COM" + std::to_string(static_cast<int64_t>(portIndex) + 1);
}

ProbeLink::ProbeLink() : ProbeLink(MakeSerialPort(SystemClock()), SystemClock()) {}

ProbeLink::ProbeLink(std::unique_ptr<SerialPort> port, Clock& clock)
    : port_(std::move(port)), clock_(clock) {}

ProbeLink::~ProbeLink() {
  CloseLink();
}

ResultCode ProbeLink::OpenLinkByIndex(int portIndex, int speedIndex) {
  return OpenLink(DeviceNameFromIndex(portIndex), SpeedFromIndex(speedIndex));
}

ResultCode ProbeLink::OpenLink(const std::string& device, uint32_t requestedSpeed) {
  // A second open of the same port would be refused by the port itself; start afresh instead.
  CloseLink();
  deviceGone_ = false;
  openFailure_ = OpenFailure{};
  const PortStatus opened = port_->OpenPort(device);
  if (opened != PortStatus::Ok) {
    openFailure_ = port_->LastOpenFailure();
    return LINK_E_PORT;
  }
  const ResultCode negotiated = NegotiateSpeed(requestedSpeed);
  if (negotiated != RESULT_OK) {
    port_->ClosePort();
    return negotiated;
  }
  open_ = true;
  counter_ = 0;
  channel_ = 0x10;
  cleanInARow_ = kCleanToTrust;
  faultsLately_ = 0;
  owedReplies_ = 0;
  return RESULT_OK;
}

int32_t ProbeLink::Noted(int32_t result) {
  if (result == LINK_E_COMM) deviceGone_ = true;
  return result;
}

ResultCode ProbeLink::ChangeSpeed(uint32_t bitsPerSecond) {
  // Bytes still in the UART's FIFO would go out at the new speed: let them leave first, within
  // the write time-out of the last write.
  if (Noted(LinkCode(port_->DrainOutput(10 * static_cast<uint32_t>(lastWriteBytes_) + 100))) ==
      LINK_E_COMM) {
    return LINK_E_COMM;
  }
  const ResultCode result = LinkCode(port_->SetPortSpeed(bitsPerSecond));
  if (observer_ != nullptr) observer_->SpeedChanged(bitsPerSecond, result);
  return result;
}

ResultCode ProbeLink::Wake() {
  lastWriteBytes_ = sizeof kWakeUp;
  return Noted(LinkCode(port_->WriteBlock(kWakeUp, sizeof kWakeUp)));
}

int32_t ProbeLink::ControlExchange(const uint8_t* payload, size_t count) {
  lastWriteBytes_ = 2 * count + 5;
  const ResultCode sent = Noted(SendFrame(*port_, payload, count));
  if (sent != RESULT_OK) return sent;
  if (observer_ != nullptr) observer_->FrameSent(payload, count);
  const int32_t received =
      Noted(ReceiveFrame(*port_, reply_, kMaxPayload, kControlTimeoutMs, clock_));
  if (observer_ != nullptr) observer_->FrameReceived(reply_, received);
  return received;
}

ResultCode ProbeLink::NegotiateSpeed(uint32_t requestedSpeed) {
  // The answer at one speed: change, wake-up pair, settle (always), then LINK_SYNC if both
  // worked. Only a reply of exactly three bytes counts.
  auto answersAt = [this](uint32_t speed) {
    if (deviceGone_) return false;  // nothing will answer: no settle waits for it
    bool ready = ChangeSpeed(speed) == RESULT_OK;
    if (ready) ready = Wake() == RESULT_OK;
    if (!deviceGone_) DelayMs(clock_, kSettleMs);
    return ready && ControlExchange(kLinkSync, sizeof kLinkSync) == 3;
  };

  const int topIndex = ChangeSpeed(kSpeedTable[4]) == RESULT_OK ? 4 : 3;
  uint32_t requested = requestedSpeed;
  // A speed above the table is asked of the probe when the port can be set to it.
  const bool aboveTable = topIndex == 4 && requested > kSpeedTable[4];
  if (!(aboveTable && ChangeSpeed(requested) == RESULT_OK) && requested > kSpeedTable[topIndex]) {
    requested = kSpeedTable[topIndex];
  }

  if (answersAt(requested)) return RESULT_OK;

  bool found = false;
  for (int index = 0; index <= topIndex && !found; ++index) found = answersAt(kSpeedTable[index]);
  if (!found || deviceGone_) return SESSION_E_NO_REPLY;

  uint8_t setSpeed[7] = {0x00, 0x05, kSetSpeedCode};
  PutU32(setSpeed + 3, requested);
  if (ControlExchange(setSpeed, sizeof setSpeed) != 7) return LINK_E_PORT;
  DelayMs(clock_, kSettleMs);

  uint32_t named = 0;
  GetU32(reply_ + 3, named);
  // Speed 0 is never asked of the port: on a terminal it would hang the line up.
  if (named == 0 || ChangeSpeed(named) != RESULT_OK) return SESSION_E_SPEED;
  if (ControlExchange(kLinkSync, sizeof kLinkSync) != 3) return SESSION_E_SPEED;
  return RESULT_OK;
}

int32_t ProbeLink::Transact(const uint8_t* request, size_t count, uint8_t* dest, size_t capacity,
                            uint32_t extraTimeoutMs) {
  // The request and a largest reply at 10 bits per byte, plus the command's own time.
  return Exchange(request, count, dest, capacity, kAttempts, [this, count, extraTimeoutMs] {
    const uint32_t speed = port_->Speed() != 0 ? port_->Speed() : kSpeedTable[0];
    return static_cast<uint32_t>((count + 1502) * 10000 / speed) + extraTimeoutMs + 200;
  });
}

int32_t ProbeLink::TransactOnce(const uint8_t* request, size_t count, uint8_t* dest,
                                size_t capacity, size_t replyBytes, uint32_t busyMs) {
  return Exchange(request, count, dest, capacity, 1, [this, count, replyBytes, busyMs] {
    // The request as framed (header, doubled DLEs, start, end and check), and the reply framed
    // with a little room for doubled DLEs in its data.
    size_t requestBytes = count + 2 + 5;
    for (size_t i = 0; i < count + 2; ++i) requestBytes += request_[i] == kDle ? 1 : 0;
    const size_t replyFrame = replyBytes + 2 + 5 + replyBytes / 64;
    return LineTimeMs(requestBytes + replyFrame) + busyMs + kLineMarginMs;
  });
}

uint32_t ProbeLink::LineTimeMs(size_t bytes) const {
  const uint32_t speed = port_->Speed() != 0 ? port_->Speed() : kSpeedTable[0];
  return static_cast<uint32_t>((uint64_t{bytes} * 10000 + speed - 1) / speed);
}

bool ProbeLink::SendMarker() {
  // A request of its own (a fresh sequence number), sent without a purge: a late reply that has
  // already arrived is still to be dropped.
  request_[0] = static_cast<uint8_t>(((counter_ & 0x03u) << 6) | channel_);
  request_[1] = 1;
  request_[2] = LDR_IDENTIFY;
  ++counter_;
  lastWriteBytes_ = 2 * 3 + 5;
  if (Noted(SendFrame(*port_, request_, 3)) != RESULT_OK) return false;
  if (observer_ != nullptr) observer_->FrameSent(request_, 3);
  return true;
}

void ProbeLink::DropLateReplies() {
  // A probe slower than the reply wait answers the first attempt after the second went out: that
  // late reply is taken for the second attempt's, and the second attempt's own reply would be
  // taken for the next request's, a sector erase reported done that has not begun. The sequence
  // number cannot tell them apart (not every probe echoes it), so the replies still owed are
  // waited for here and dropped. Each may follow the one before it by the probe's whole working
  // time, so the window starts afresh after each.
  //
  // A piece of a bulk transfer lost on a noisy line is mostly a request the line changed and the
  // probe dropped: nothing will come, and waiting the whole window for it would cost more than
  // the lost piece itself. The loader answers its requests one after the other, so an identify
  // request sent now is answered after every reply still owed: what comes before its reply (the
  // echo 'd') is late and dropped, and its reply ends the wait at once. When its reply does not
  // come, the window ends the wait as before.
  if (owedReplies_ == 0 || deviceGone_) {
    owedReplies_ = 0;
    return;
  }
  bool marked = owedByPiece_ && SendMarker();
  while ((owedReplies_ > 0 || marked) && !deviceGone_) {
    const uint32_t elapsed = clock_.TickMs() - owedSinceMs_;
    if (elapsed >= owedWindowMs_) break;
    if (observer_ != nullptr) observer_->LateReplyAwaited(owedWindowMs_ - elapsed);
    const int32_t received =
        Noted(ReceiveFrame(*port_, reply_, kMaxPayload, owedWindowMs_ - elapsed, clock_));
    if (received == LINK_E_TIMEOUT || received == LINK_E_COMM) break;
    if (observer_ != nullptr) observer_->FrameReceived(reply_, received);
    const size_t length =
        received >= 2 ? (static_cast<size_t>(reply_[0] & 0x07) << 8) | reply_[1] : 0;
    if (marked && received >= 3 && static_cast<size_t>(received) == length + 2 &&
        reply_[2] == LDR_IDENTIFY) {
      break;
    }
    if (owedReplies_ > 0) --owedReplies_;
    owedSinceMs_ = clock_.TickMs();
  }
  owedReplies_ = 0;
}

template <typename Timeout>
int32_t ProbeLink::Exchange(const uint8_t* request, size_t count, uint8_t* dest, size_t capacity,
                            int attempts, Timeout timeoutMs) {
  if (!open_) return SESSION_E_CLOSED;
  if (count > kMaxRequest) return SESSION_E_TOO_LONG;
  DropLateReplies();

  request_[0] = static_cast<uint8_t>((count >> 8) | ((counter_ & 0x03u) << 6) | channel_);
  request_[1] = static_cast<uint8_t>(count);
  ++counter_;  // once per transaction: every attempt sends the same header
  if (count > 0) std::memcpy(request_ + 2, request, count);

  int timedOut = 0;          // attempts whose request went out and whose reply never came
  uint32_t firstLostAt = 0;  // when the first of them was sent
  uint32_t waitMs = 0;
  // Replies owed by attempts that timed out: on success each may still come, up to as long after
  // this reply as this one took from the first lost request; after failure, up to one reply wait.
  // The window has an eighth and the line margin on top for the host's and the probe's latency.
  const auto owe = [&](bool answered) {
    if (timedOut == 0) return;
    const uint32_t now = clock_.TickMs();
    const uint32_t took = answered ? now - firstLostAt : 0;
    const uint32_t window = std::max(waitMs, took);
    owedReplies_ = timedOut;
    owedByPiece_ = attempts == 1;
    owedSinceMs_ = now;
    owedWindowMs_ = window + window / 8 + kLineMarginMs;
  };
  // A device that went away answers no attempt.
  for (int attempt = 0; attempt < attempts && !deviceGone_; ++attempt) {
    if (attempt > 0) Fault();  // the attempt before it failed
    port_->PurgeInput();
    if (observer_ != nullptr) observer_->InputPurged();
    lastWriteBytes_ = 2 * (count + 2) + 5;
    const uint32_t sentAt = clock_.TickMs();
    if (Noted(SendFrame(*port_, request_, count + 2)) != RESULT_OK) continue;
    if (observer_ != nullptr) observer_->FrameSent(request_, count + 2);

    waitMs = timeoutMs();
    const int32_t received = Noted(ReceiveFrame(*port_, reply_, kMaxPayload, waitMs, clock_));
    if (observer_ != nullptr) observer_->FrameReceived(reply_, received);
    if (received == LINK_E_TIMEOUT && timedOut++ == 0) firstLostAt = sentAt;
    if (received <= 0) continue;

    const size_t length = (static_cast<size_t>(reply_[0] & 0x07) << 8) | reply_[1];
    if (static_cast<size_t>(received) != length + 2) continue;
    if (attempt == 0 && cleanInARow_ < kCleanToTrust && ++cleanInARow_ == kCleanToTrust) {
      faultsLately_ = 0;
    }
    owe(true);
    if (length > capacity) return SESSION_E_REPLY_TOO_LONG;
    if (length > 0) std::memcpy(dest, reply_ + 2, length);
    return static_cast<int32_t>(length);
  }
  Fault();
  // A bulk transfer sends a lost piece again at once, as a new transaction: its reply must not be
  // the lost one's. A transaction of three attempts that got no reply ends its flow instead.
  if (attempts == 1) owe(false);
  return SESSION_E_NO_REPLY;
}

void ProbeLink::CloseLink() {
  owedReplies_ = 0;
  if (!open_) return;
  port_->ClosePort();
  open_ = false;
}

uint32_t ProbeLink::Speed() const {
  return port_->Speed();
}

}  // namespace vanta
