#pragma once
// The byte transport under the probe link. The POSIX terminal and the Windows COM port implement
// it; tests may put a fake in its place where a pseudo-terminal cannot show a case (a driver
// refusing a speed). The transport speaks its own small set of results; the link maps them onto
// its codes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/ports.h"

namespace vanta {

enum class PortStatus {
  Ok,
  OpenFailed,    // the device cannot be opened or configured; LastOpenFailure() says why
  SpeedRefused,  // the driver will not run the line at that speed
  TimedOut,      // no byte within the time-out
  Gone,          // the device went away (unplugged, hung up, other end closed)
  WriteFailed,   // the bytes were not all accepted within the write time-out
};

// Why an open failed, as the operating system told it.
enum class OpenFault {
  None,
  NoDevice,          // no such device (or no hardware behind the node)
  PermissionDenied,  // group names the device's group
  Busy,              // held by another process (lock, exclusive mode, or open elsewhere)
  NotATerminal,      // opens, but has no line setting
  Other,             // systemText says what
};

struct OpenFailure {
  OpenFault fault = OpenFault::None;
  std::string device;               // the device path that was tried
  int systemError = 0;              // errno of the failing call (0 when the refusal is ours)
  std::string systemText;           // the system's words for systemError
  std::string group;                // PermissionDenied: the group that owns the device
  std::vector<PortHolder> holders;  // Busy: the processes known to hold the device
};

// DTR and RTS as the driver reports them after open.
struct ModemLines {
  bool known = false;  // false on a device without modem lines (a pseudo-terminal)
  bool dtr = false;
  bool rts = false;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens device (a path, or a "\\.\COMn" name resolved by ResolvePortDevice) for exclusive use:
  // raw 8N1 at 9600 bit/s, no flow control, DTR and RTS off. OpenFailed on any failure, with
  // nothing left open and LastOpenFailure() saying why; a device held by this or another process
  // is refused.
  virtual PortStatus OpenPort(const std::string& device) = 0;

  // Why the last OpenPort failed (fault None after a successful one).
  virtual const OpenFailure& LastOpenFailure() const {
    static const OpenFailure kNone;
    return kNone;
  }

  // Stores the speed first, then asks the driver; SpeedRefused when refused, in which case the
  // line keeps its old speed while Speed() reports the refused value. Nothing is purged or
  // drained (DrainOutput comes first where that matters).
  virtual PortStatus SetPortSpeed(uint32_t bitsPerSecond) = 0;

  // Returns once the bytes written so far have left the line (the driver's queue and the UART's
  // transmit FIFO), or TimedOut after timeoutMs; Gone when the device went away.
  virtual PortStatus DrainOutput(uint32_t timeoutMs) = 0;

  // The speed last asked for (9600 after OpenPort).
  virtual uint32_t Speed() const = 0;

  // Discards every received byte not yet delivered; the transmit side is untouched.
  virtual void PurgeInput() = 0;

  // Ok with the byte stored; TimedOut never before timeoutMs has passed; Gone when the port can
  // no longer be read (device removed, other end closed). Never hangs.
  virtual PortStatus ReadByte(uint8_t& byte, uint32_t timeoutMs) = 0;

  // Writes all count bytes within 10 ms per byte plus 100 ms, else WriteFailed (Gone when the
  // device went away).
  virtual PortStatus WriteBlock(const uint8_t* data, size_t count) = 0;

  // DTR and RTS as the driver has them now (known false where the device has none).
  virtual ModemLines GetModemLines() { return {}; }

  // Restores the line setting and driver flags the device had before OpenPort, then closes;
  // harmless on a port that is not open.
  virtual void ClosePort() = 0;
};

// The serial port of the system built for, whose time-outs run on clock: the POSIX terminal
// port on Linux, the Win32 communications port on Windows.
std::unique_ptr<SerialPort> MakeSerialPort(Clock& clock = SystemClock());

// A POSIX terminal port (termios, poll) whose time-outs run on clock; POSIX builds only.
std::unique_ptr<SerialPort> MakePosixSerialPort(Clock& clock = SystemClock());

}  // namespace vanta
