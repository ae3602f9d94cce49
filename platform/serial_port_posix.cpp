// The serial port on a POSIX terminal device: termios for the line, poll for the time-outs.
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/ports.h"
#include "platform/serial_port.h"
#include "platform/serial_port_p.h"

namespace vanta {
namespace {

struct TableSpeed {
  uint32_t bitsPerSecond;
  speed_t code;
};

constexpr TableSpeed kTableSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

const TableSpeed* FindTableSpeed(uint32_t bitsPerSecond) {
  for (const TableSpeed& entry : kTableSpeeds) {
    if (entry.bitsPerSecond == bitsPerSecond) return &entry;
  }
  return nullptr;
}

// A driver that cannot make a speed rounds it or keeps the old one; 2% off is the most a UART
// link tolerates, so anything further counts as refused.
bool SpeedMatches(uint32_t actual, uint32_t asked) {
  const uint32_t difference = actual > asked ? actual - asked : asked - actual;
  return difference <= asked / 50;
}

std::string SystemText(int error) {
  char buffer[256];
  return strerror_r(error, buffer, sizeof buffer);  // several probes' threads may fail at once
}

std::string OwningGroup(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {};
  group entry{};
  group* found = nullptr;
  std::vector<char> buffer(16384);
  if (getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    return found->gr_name;
  }
  return std::to_string(info.st_gid);
}

OpenFault FaultOfError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
    case EIO:  // a serial node without a UART behind it
      return OpenFault::NoDevice;
    case EACCES:
    case EPERM:
      return OpenFault::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
      return OpenFault::Busy;
    case ENOTTY:
    case EINVAL:
      return OpenFault::NotATerminal;
    default:
      return OpenFault::Other;
  }
}

bool DeviceGoneError(int error) {
  return error == EIO || error == ENXIO || error == ENODEV;
}

class PosixSerialPort final : public SerialPort {
 public:
  explicit PosixSerialPort(Clock& clock) : clock_(clock) {}
  ~PosixSerialPort() override { ClosePort(); }

  PortStatus OpenPort(const std::string& device) override {
    ClosePort();
    failure_ = OpenFailure{};
    const std::string path = ResolvePortDevice(device);
    failure_.device = path;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Refuse(errno, path);
    // flock refuses a second open in this process too (root ignores TIOCEXCL).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
      const int error = errno;
      close(fd);
      return Refuse(error, path);
    }
    // A real serial device open elsewhere (a terminal program, ModemManager) would share the
    // line with us; the process at the other end of a pseudo-terminal holds it by design.
    if (isatty(fd) && !IsPseudoTerminal(path)) {
      std::vector<PortHolder> holders = FindPortHolders(path);
      if (!holders.empty()) {
        ioctl(fd, TIOCNXCL);
        close(fd);
        failure_.fault = OpenFault::Busy;
        failure_.holders = std::move(holders);
        return PortStatus::OpenFailed;
      }
    }
    fd_ = fd;
    gone_ = false;
    errno = 0;
    if (!ConfigureLine()) {
      const int error = errno;
      ClosePort();
      return Refuse(error, path);
    }
    speed_ = 9600;
    bufferStart_ = bufferEnd_ = 0;
    return PortStatus::Ok;
  }

  const OpenFailure& LastOpenFailure() const override { return failure_; }

  PortStatus SetPortSpeed(uint32_t bitsPerSecond) override {
    termios previous{};
    if (fd_ < 0 || tcgetattr(fd_, &previous) != 0) return PortStatus::SpeedRefused;
    speed_ = bitsPerSecond;
    // Speed 0 would hang the line up (B0 drops the modem lines); no probe runs at it.
    if (bitsPerSecond == 0) return PortStatus::SpeedRefused;
    uint32_t before = 0;
    const bool knowBefore = detail::GetLineSpeed(fd_, before);

    bool taken = ApplySpeed(previous, bitsPerSecond);
    uint32_t actual = 0;
    if (taken && detail::GetLineSpeed(fd_, actual) && !SpeedMatches(actual, bitsPerSecond)) {
      taken = false;
    }
    if (!taken) {
      // The line keeps its previous speed after a refusal.
      if (knowBefore && before != 0) ApplySpeed(previous, before);
      return PortStatus::SpeedRefused;
    }
    return PortStatus::Ok;
  }

  PortStatus DrainOutput(uint32_t timeoutMs) override {
    if (fd_ < 0 || gone_) return PortStatus::Gone;
    // tcdrain alone could wait for ever on a line that does not send; wait for the driver's
    // queue on the clock, and leave only the UART's FIFO (a few character times) to tcdrain.
    const Deadline deadline(clock_, timeoutMs);
    for (;;) {
      int queued = 0;
      if (ioctl(fd_, TIOCOUTQ, &queued) != 0) {
        if (DeviceGoneError(errno)) return Gone();
        queued = 0;  // a driver that cannot tell: tcdrain decides
      }
      if (queued <= 0) break;
      if (deadline.Expired()) return PortStatus::TimedOut;
      clock_.Sleep(std::clamp<uint32_t>(deadline.RemainingMs(), 1, 2));
    }
    if (tcdrain(fd_) != 0 && DeviceGoneError(errno)) return Gone();
    return PortStatus::Ok;
  }

  uint32_t Speed() const override { return speed_; }

  void PurgeInput() override {
    bufferStart_ = bufferEnd_ = 0;
    if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
  }

  PortStatus ReadByte(uint8_t& byte, uint32_t timeoutMs) override {
    if (bufferStart_ < bufferEnd_) {
      byte = buffer_[bufferStart_++];
      return PortStatus::Ok;
    }
    if (fd_ < 0 || gone_) return PortStatus::Gone;
    const Deadline deadline(clock_, timeoutMs);
    for (;;) {
      const bool expired = deadline.Expired();
      // One more than what remains: the poll must outlast the tick that proves the time-out.
      const int wait =
          expired ? 0 : static_cast<int>(std::min<uint32_t>(deadline.RemainingMs() + 1, 1u << 30));
      pollfd entry{fd_, POLLIN, 0};
      const int ready = poll(&entry, 1, wait);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return Gone();
      }
      if (ready == 0) {
        if (expired) return PortStatus::TimedOut;
        continue;
      }
      if (entry.revents & POLLIN) {
        const ssize_t n = read(fd_, buffer_, sizeof buffer_);
        if (n > 0) {
          bufferStart_ = 1;
          bufferEnd_ = static_cast<size_t>(n);
          byte = buffer_[0];
          return PortStatus::Ok;
        }
        // Readable but nothing to read: the other end is gone (a hung-up terminal reads 0).
        if (n == 0) return Gone();
        if (errno == EINTR || errno == EAGAIN) continue;
        return Gone();  // EIO, ENXIO, ENODEV: device removed or other end closed
      }
      if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) return Gone();
    }
  }

  PortStatus WriteBlock(const uint8_t* data, size_t count) override {
    if (fd_ < 0 || gone_) return PortStatus::Gone;
    const uint64_t budget = 10ull * count + 100;
    const Deadline deadline(clock_, static_cast<uint32_t>(std::min<uint64_t>(budget, 1u << 30)));
    size_t written = 0;
    while (written < count) {
      const ssize_t n = write(fd_, data + written, count - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && DeviceGoneError(errno)) return Gone();
      if (n < 0 && errno != EAGAIN) return PortStatus::WriteFailed;
      if (deadline.Expired()) return PortStatus::WriteFailed;
      pollfd entry{fd_, POLLOUT, 0};
      const int ready = poll(&entry, 1, static_cast<int>(deadline.RemainingMs() + 1));
      if (ready < 0 && errno != EINTR) return PortStatus::WriteFailed;
      if (ready > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL))) return Gone();
    }
    return PortStatus::Ok;
  }

  ModemLines GetModemLines() override {
    ModemLines lines;
    int bits = 0;
    if (fd_ < 0 || ioctl(fd_, TIOCMGET, &bits) != 0) return lines;
    lines.known = true;
    lines.dtr = (bits & TIOCM_DTR) != 0;
    lines.rts = (bits & TIOCM_RTS) != 0;
    return lines;
  }

  void ClosePort() override {
    if (fd_ < 0) return;
    if (!gone_) RestoreLine();
    // While another process holds the device (the virtual probe its pty), the kernel keeps
    // exclusive mode set after our close, and our own next open would fail with EBUSY.
    ioctl(fd_, TIOCNXCL);
    close(fd_);
    fd_ = -1;
    saved_ = SavedLine{};
    bufferStart_ = bufferEnd_ = 0;
  }

 private:
  // Raw 8N1 at 9600 without flow control, DTR and RTS off, low latency where the driver has it.
  bool ConfigureLine() {
    termios setting{};
    if (tcgetattr(fd_, &setting) != 0) return false;
    saved_.setting = setting;
    saved_.haveSetting = true;
    saved_.haveSpeed = detail::GetLineSpeed(fd_, saved_.speed);
    cfmakeraw(&setting);
    setting.c_cflag &= ~(CSTOPB | CRTSCTS | HUPCL | PARENB | CSIZE);
    setting.c_cflag |= CS8 | CLOCAL | CREAD;
    setting.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR);
    setting.c_cc[VMIN] = 0;
    setting.c_cc[VTIME] = 0;
    if (cfsetspeed(&setting, B9600) != 0) return false;
    if (tcsetattr(fd_, TCSANOW, &setting) != 0) return false;
    // tcsetattr succeeds when any part was taken: read the setting back.
    termios applied{};
    if (tcgetattr(fd_, &applied) != 0) return false;
    if ((applied.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)) != CS8) return false;
    if (cfgetospeed(&applied) != B9600) return false;

    // A device without modem lines (a pseudo-terminal) answers ENOTTY or EINVAL.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd_, TIOCMBIC, &lines) != 0 && errno != ENOTTY && errno != EINVAL) return false;

    // The FTDI driver then drops its 16 ms latency timer to 1 ms, which decides the speed of a
    // stop-and-wait protocol. Drivers without the setting refuse it; that is fine.
    serial_struct serial{};
    if (ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
      saved_.serialFlags = serial.flags;
      serial.flags |= ASYNC_LOW_LATENCY;
      saved_.haveSerialFlags = ioctl(fd_, TIOCSSERIAL, &serial) == 0;
    }
    tcflush(fd_, TCIFLUSH);  // nothing received before the open belongs to this session
    return true;
  }

  // Leaves the device as OpenPort found it: the bytes still queued go out at the speed they were
  // written for (bounded by their write time-out), then the line setting, a speed outside the
  // termios table and the driver's flags (low latency) come back.
  void RestoreLine() {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) queued = 0;
    DrainOutput(10u * static_cast<uint32_t>(queued) + 100);
    if (saved_.haveSetting) tcsetattr(fd_, TCSANOW, &saved_.setting);
    uint32_t now = 0;
    if (saved_.haveSpeed && saved_.speed != 0 && detail::GetLineSpeed(fd_, now) &&
        now != saved_.speed) {
      detail::SetCustomLineSpeed(fd_, saved_.speed);
    }
    serial_struct serial{};
    if (saved_.haveSerialFlags && ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
      serial.flags = saved_.serialFlags;
      ioctl(fd_, TIOCSSERIAL, &serial);
    }
  }

  PortStatus Refuse(int error, const std::string& path) {
    failure_.systemError = error;
    // error 0: every call succeeded, but the driver did not take the whole line setting.
    failure_.systemText = error != 0 ? SystemText(error) : "the driver refuses the line setting";
    failure_.fault = error != 0 ? FaultOfError(error) : OpenFault::Other;
    if (failure_.fault == OpenFault::PermissionDenied) failure_.group = OwningGroup(path);
    if (failure_.fault == OpenFault::Busy) failure_.holders = FindPortHolders(path);
    return PortStatus::OpenFailed;
  }

  // The device went away: every later call fails at once instead of waiting on it.
  PortStatus Gone() {
    gone_ = true;
    bufferStart_ = bufferEnd_ = 0;
    return PortStatus::Gone;
  }

  bool ApplySpeed(const termios& base, uint32_t bitsPerSecond) {
    const TableSpeed* table = FindTableSpeed(bitsPerSecond);
    if (table == nullptr) return detail::SetCustomLineSpeed(fd_, bitsPerSecond);
    termios setting = base;
    if (cfsetspeed(&setting, table->code) != 0) return false;
    return tcsetattr(fd_, TCSANOW, &setting) == 0;
  }

  struct SavedLine {
    termios setting{};
    bool haveSetting = false;
    uint32_t speed = 0;
    bool haveSpeed = false;
    int serialFlags = 0;
    bool haveSerialFlags = false;  // only when we changed them
  };

  Clock& clock_;
  int fd_ = -1;
  bool gone_ = false;
  OpenFailure failure_;
  SavedLine saved_;
  uint32_t speed_ = 9600;
  uint8_t buffer_[256] = {};
  size_t bufferStart_ = 0;
  size_t bufferEnd_ = 0;
};

}  // namespace

std::unique_ptr<SerialPort> MakePosixSerialPort(Clock& clock) {
  return std::make_unique<PosixSerialPort>(clock);
}

std::unique_ptr<SerialPort> MakeSerialPort(Clock& clock) {
  return MakePosixSerialPort(clock);
}

}  // namespace vanta
