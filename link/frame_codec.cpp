#include "link/frame_codec.h"

namespace vanta {

size_t EncodeFrame(const uint8_t* payload, size_t count, uint8_t* out) {
  size_t at = 0;
  out[at++] = kDle;
  out[at++] = kStx;
  uint8_t check = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t byte = payload[i];
    out[at++] = byte;
    check ^= byte;
    if (byte == kDle) out[at++] = kDle;
  }
  out[at++] = kDle;
  out[at++] = kEtx;
  out[at++] = check;
  if (check == kDle) out[at++] = kDle;
  return at;
}

ResultCode LinkCode(PortStatus status) {
  switch (status) {
    case PortStatus::Ok:
      return RESULT_OK;
    case PortStatus::OpenFailed:
    case PortStatus::SpeedRefused:
      return LINK_E_PORT;
    case PortStatus::TimedOut:
      return LINK_E_TIMEOUT;
    case PortStatus::Gone:
      return LINK_E_COMM;
    case PortStatus::WriteFailed:
      return LINK_E_WRITE;
  }
  return LINK_E_COMM;
}

ResultCode SendFrame(SerialPort& port, const uint8_t* payload, size_t count) {
  if (count > kMaxPayload) return LINK_E_WRITE;
  uint8_t frame[kMaxFrame];
  const size_t length = EncodeFrame(payload, count, frame);
  return LinkCode(port.WriteBlock(frame, length));
}

namespace {

// A read fails only by its time-out or by losing the device.
ResultCode ReadOne(SerialPort& port, uint8_t& byte, uint32_t timeoutMs) {
  switch (port.ReadByte(byte, timeoutMs)) {
    case PortStatus::Ok:
      return RESULT_OK;
    case PortStatus::TimedOut:
      return LINK_E_TIMEOUT;
    default:
      return LINK_E_COMM;
  }
}

// Hunts for DLE STX. A line that keeps sending bytes that never open a frame must not hold the
// caller for ever: the start has to come within timeoutMs of the call and within two largest
// frames' worth of bytes.
ResultCode HuntFrameStart(SerialPort& port, uint32_t timeoutMs, Clock& clock) {
  const Deadline deadline(clock, timeoutMs);
  size_t hunted = 0;
  bool afterDle = false;
  for (;;) {
    uint8_t byte = 0;
    const ResultCode result = ReadOne(port, byte, deadline.RemainingMs());
    if (result != RESULT_OK) return result;
    ++hunted;
    if (afterDle) {
      // The partner of a DLE is never looked at as a new DLE: DLE DLE STX opens no frame.
      if (byte == kStx) return RESULT_OK;
      afterDle = false;
    } else {
      afterDle = byte == kDle;
    }
    if (deadline.Expired() || hunted >= 2 * kMaxFrame) return LINK_E_TIMEOUT;
  }
}

}  // namespace

int32_t ReceiveFrame(SerialPort& port, uint8_t* dest, size_t capacity, uint32_t timeoutMs,
                     Clock& clock) {
  ResultCode result = HuntFrameStart(port, timeoutMs, clock);
  if (result != RESULT_OK) return result;

  uint8_t check = 0;
  size_t count = 0;
  uint8_t byte = 0;
  for (;;) {
    if ((result = ReadOne(port, byte, timeoutMs)) != RESULT_OK) return result;
    if (byte == kDle) {
      if ((result = ReadOne(port, byte, timeoutMs)) != RESULT_OK) return result;
      if (byte == kEtx) break;
      if (byte != kDle) return LINK_E_FRAME;
    }
    if (count == capacity) return LINK_E_OVERFLOW;
    check ^= byte;
    dest[count++] = byte;
  }

  uint8_t received = 0;
  if ((result = ReadOne(port, received, timeoutMs)) != RESULT_OK) return result;
  if (received == kDle) {
    if ((result = ReadOne(port, byte, timeoutMs)) != RESULT_OK) return result;
    if (byte != kDle) return LINK_E_FRAME;
  }
  if (received != check) return LINK_E_CHECKSUM;
  return static_cast<int32_t>(count);
}

}  // namespace vanta
