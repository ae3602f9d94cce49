// The serial port on Windows: the Win32 communications calls on \\.\COMn, with synchronous I/O
// and the driver's time-outs (COMMTIMEOUTS) bounding every read and write.
#include <windows.h>

#include <algorithm>

#include "platform/ports.h"
#include "platform/serial_port.h"
#include "platform/windows_errors.h"
#include "platform/windows_p.h"

namespace vanta {
namespace {

constexpr DWORD kReceiveQueue = 1500;
constexpr DWORD kTransmitQueue = 4500;

// Read: at most 100 ms between two bytes of one read, 10 ms a byte plus 100 ms in all; write:
// 10 ms a byte plus 100 ms. So a read of one byte returns within 110 ms, with or without it.
constexpr COMMTIMEOUTS kTimeouts = {
    /*ReadIntervalTimeout=*/100,
    /*ReadTotalTimeoutMultiplier=*/10,
    /*ReadTotalTimeoutConstant=*/100,
    /*WriteTotalTimeoutMultiplier=*/10,
    /*WriteTotalTimeoutConstant=*/100,
};

// 9600 bit/s 8N1, binary, no flow control of any kind, DTR and RTS held off, every received byte
// delivered as it came (no parity replacement, nulls kept), and abort on error: after a line
// error the driver fails reads and writes until ClearCommError. DSR sensitivity, TX-continue on
// XOFF and the XON/XOFF limits and characters stay as the driver had them.
void ApplyLineSetting(DCB& dcb) {
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = TRUE;
}

class WindowsSerialPort final : public SerialPort {
 public:
  explicit WindowsSerialPort(Clock& clock) : clock_(clock) {}
  ~WindowsSerialPort() override { ClosePort(); }

  PortStatus OpenPort(const std::string& device) override {
    ClosePort();
    failure_ = OpenFailure{};
    const std::string path = ResolvePortDevice(device);
    failure_.device = path;
    // Exclusive (share mode 0), only if it exists, synchronous.
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Refuse(GetLastError(), false);
    handle_ = handle;
    gone_ = false;

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    COMMPROP properties{};
    // The port's own communications functions; a file or another device fails here.
    if (!SetupComm(handle_, kReceiveQueue, kTransmitQueue) ||
        !GetCommProperties(handle_, &properties) || !GetCommState(handle_, &dcb)) {
      return Abandon(GetLastError());
    }
    saved_ = dcb;
    haveSaved_ = true;
    haveSavedTimeouts_ = GetCommTimeouts(handle_, &savedTimeouts_) != 0;
    ApplyLineSetting(dcb);
    speed_ = 9600;
    COMMTIMEOUTS timeouts = kTimeouts;
    if (!SetCommState(handle_, &dcb) || !SetCommTimeouts(handle_, &timeouts)) {
      return Abandon(GetLastError());
    }
    // SetCommState succeeds on some drivers with a setting they do not run: read it back.
    DCB applied{};
    applied.DCBlength = sizeof applied;
    if (!GetCommState(handle_, &applied)) return Abandon(GetLastError());
    if (applied.BaudRate != 9600 || applied.ByteSize != 8 || applied.Parity != NOPARITY ||
        applied.StopBits != ONESTOPBIT) {
      return Abandon(0);
    }
    return PortStatus::Ok;
  }

  const OpenFailure& LastOpenFailure() const override { return failure_; }

  PortStatus SetPortSpeed(uint32_t bitsPerSecond) override {
    DCB previous{};
    previous.DCBlength = sizeof previous;
    if (handle_ == INVALID_HANDLE_VALUE || !GetCommState(handle_, &previous)) {
      return PortStatus::SpeedRefused;
    }
    speed_ = bitsPerSecond;
    if (bitsPerSecond == 0) return PortStatus::SpeedRefused;
    DCB dcb = previous;
    dcb.BaudRate = bitsPerSecond;
    if (!SetCommState(handle_, &dcb)) return PortStatus::SpeedRefused;
    // Drivers (and Wine, with speeds outside its table) accept some speeds and run the line at
    // another: a speed that does not read back did not take, and the line goes back to the old.
    DCB applied{};
    applied.DCBlength = sizeof applied;
    if (!GetCommState(handle_, &applied) || applied.BaudRate != bitsPerSecond) {
      SetCommState(handle_, &previous);
      return PortStatus::SpeedRefused;
    }
    return PortStatus::Ok;
  }

  PortStatus DrainOutput(uint32_t timeoutMs) override {
    if (handle_ == INVALID_HANDLE_VALUE || gone_) return PortStatus::Gone;
    // FlushFileBuffers could wait for ever on a line that does not send: watch the driver's
    // transmit queue on the clock instead.
    const Deadline deadline(clock_, timeoutMs);
    for (;;) {
      DWORD errors = 0;
      COMSTAT status{};
      if (!ClearCommError(handle_, &errors, &status)) return Gone();
      if (status.cbOutQue == 0) return PortStatus::Ok;
      if (deadline.Expired()) return PortStatus::TimedOut;
      clock_.Sleep(std::clamp<uint32_t>(deadline.RemainingMs(), 1, 2));
    }
  }

  uint32_t Speed() const override { return speed_; }

  void PurgeInput() override {
    // The receive queue alone: nothing pending is aborted, the transmit queue keeps its bytes.
    if (handle_ != INVALID_HANDLE_VALUE) PurgeComm(handle_, PURGE_RXCLEAR);
  }

  PortStatus ReadByte(uint8_t& byte, uint32_t timeoutMs) override {
    if (handle_ == INVALID_HANDLE_VALUE || gone_) return PortStatus::Gone;
    if (ReadOne(byte)) return PortStatus::Ok;
    // The time-out counts from the end of the first empty read and is tested before each
    // further read, so no byte that arrives within it is missed.
    const uint32_t start = clock_.TickMs();
    for (;;) {
      // Clears the abort-on-error state after a line error (the bytes it cost are not
      // reported); a failed query means the port is no longer usable, as after its removal.
      DWORD errors = 0;
      COMSTAT status{};
      if (!ClearCommError(handle_, &errors, &status)) return Gone();
      if (clock_.TickMs() - start > timeoutMs) return PortStatus::TimedOut;
      if (ReadOne(byte)) return PortStatus::Ok;
    }
  }

  PortStatus WriteBlock(const uint8_t* data, size_t count) override {
    if (handle_ == INVALID_HANDLE_VALUE || gone_) return PortStatus::Gone;
    if (count == 0) return PortStatus::Ok;
    // One write call; the write time-outs bound it to 10 ms a byte plus 100 ms.
    const DWORD asked = static_cast<DWORD>(std::min<size_t>(count, 1u << 30));
    DWORD written = 0;
    if (WriteFile(handle_, data, asked, &written, nullptr)) {
      // A short write leaves the port's error state alone.
      return written == count ? PortStatus::Ok : PortStatus::WriteFailed;
    }
    // A write refused by a pending line error: clearing the error state lets the next one
    // through. When even the query fails, the port is gone.
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &errors, &status)) return Gone();
    return PortStatus::WriteFailed;
  }

  void ClosePort() override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    if (!gone_) {
      // The bytes still queued go out at the speed they were written for, then the port gets
      // back the setting and time-outs it had before.
      DWORD errors = 0;
      COMSTAT status{};
      if (ClearCommError(handle_, &errors, &status)) DrainOutput(10 * status.cbOutQue + 100);
      RestoreSetting();
    }
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    haveSaved_ = haveSavedTimeouts_ = false;
  }

 private:
  // One ReadFile of one byte; it returns within the read time-outs.
  bool ReadOne(uint8_t& byte) {
    DWORD n = 0;
    return ReadFile(handle_, &byte, 1, &n, nullptr) && n == 1;
  }

  PortStatus Refuse(DWORD error, bool opened) {
    failure_.systemError = static_cast<int>(error);
    failure_.fault = error != 0 ? OpenFaultOfWin32Error(error, opened) : OpenFault::Other;
    failure_.systemText =
        error != 0 ? detail::SystemErrorText(error) : "the driver refuses the line setting";
    return PortStatus::OpenFailed;
  }

  void RestoreSetting() {
    if (haveSaved_) SetCommState(handle_, &saved_);
    if (haveSavedTimeouts_) SetCommTimeouts(handle_, &savedTimeouts_);
  }

  // A set-up step failed on a port that opened: it gets back what it had and is closed again.
  PortStatus Abandon(DWORD error) {
    RestoreSetting();
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    haveSaved_ = haveSavedTimeouts_ = false;
    return Refuse(error, true);
  }

  // The port went away: every later call fails at once instead of waiting on it.
  PortStatus Gone() {
    gone_ = true;
    return PortStatus::Gone;
  }

  Clock& clock_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool gone_ = false;
  OpenFailure failure_;
  DCB saved_{};
  COMMTIMEOUTS savedTimeouts_{};
  bool haveSaved_ = false;
  bool haveSavedTimeouts_ = false;
  uint32_t speed_ = 9600;
};

}  // namespace

std::unique_ptr<SerialPort> MakeSerialPort(Clock& clock) {
  return std::make_unique<WindowsSerialPort>(clock);
}

}  // namespace vanta
