#pragma once
// The byte transport under the probe link. The POSIX terminal implements it; tests may put a fake
// in its place where a pseudo-terminal cannot show a case (a driver refusing a speed).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/result_codes.h"
#include "platform/clock.h"

namespace vanta {

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens device (a path, or a "\\.\COMn" name resolved by ResolvePortDevice) for exclusive use:
  // raw 8N1 at 9600 bit/s, no flow control, DTR and RTS off. LINK_E_PORT on any failure, with
  // nothing left open; a device held by this or another process is refused.
  virtual ResultCode OpenPort(const std::string& device) = 0;

  // Stores the speed first, then asks the driver; LINK_E_PORT when refused, in which case the
  // line keeps its old speed while Speed() reports the refused value. Nothing is purged.
  virtual ResultCode SetPortSpeed(uint32_t bitsPerSecond) = 0;

  // The speed last asked for (9600 after OpenPort).
  virtual uint32_t Speed() const = 0;

  // Discards every received byte not yet delivered; the transmit side is untouched.
  virtual void PurgeInput() = 0;

  // 0 with the byte stored; LINK_E_TIMEOUT never before timeoutMs has passed; LINK_E_COMM when
  // the port can no longer be read (device removed, other end closed). Never hangs.
  virtual ResultCode ReadByte(uint8_t& byte, uint32_t timeoutMs) = 0;

  // Writes all count bytes within 10 ms per byte plus 100 ms, else LINK_E_WRITE.
  virtual ResultCode WriteBlock(const uint8_t* data, size_t count) = 0;

  // Closes the port; harmless on a port that is not open.
  virtual void ClosePort() = 0;
};

// A POSIX terminal port (termios, poll) whose time-outs run on clock.
std::unique_ptr<SerialPort> MakePosixSerialPort(Clock& clock = SystemClock());

}  // namespace vanta
