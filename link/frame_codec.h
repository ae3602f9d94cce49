#pragma once
// Frames on the serial line: DLE STX, the payload with every DLE doubled, DLE ETX, and the XOR of
// the payload bytes (doubled when it is DLE).
#include <cstddef>
#include <cstdint>

#include "link/result_codes.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

namespace vanta {

inline constexpr uint8_t kDle = 0x10;
inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr size_t kMaxPayload = 1500;  // the largest payload the session sends
inline constexpr size_t kMaxFrame = 3006;    // 2 + 2 * 1500 + 2 + 2

// Builds the frame of count payload bytes (count <= kMaxPayload) into out, which has room for
// kMaxFrame bytes; returns the frame's length.
size_t EncodeFrame(const uint8_t* payload, size_t count, uint8_t* out);

// The link's code for what the transport reported (0 for Ok): OpenFailed and SpeedRefused are
// LINK_E_PORT, TimedOut LINK_E_TIMEOUT, Gone LINK_E_COMM, WriteFailed LINK_E_WRITE.
ResultCode LinkCode(PortStatus status);

// Writes the whole frame with one WriteBlock; 0 or LINK_E_WRITE (also for count > kMaxPayload),
// LINK_E_COMM when the device went away.
ResultCode SendFrame(SerialPort& port, const uint8_t* payload, size_t count);

// Receives one frame's payload into dest. Returns the payload length (0 or more) or
// LINK_E_TIMEOUT, LINK_E_COMM (the device went away), LINK_E_FRAME, LINK_E_CHECKSUM,
// LINK_E_OVERFLOW. timeoutMs bounds the wait for each byte; the hunt for the frame start is also
// bounded: no DLE STX within timeoutMs of the call, or after more bytes than two largest frames,
// gives LINK_E_TIMEOUT.
int32_t ReceiveFrame(SerialPort& port, uint8_t* dest, size_t capacity, uint32_t timeoutMs,
                     Clock& clock);

}  // namespace vanta
