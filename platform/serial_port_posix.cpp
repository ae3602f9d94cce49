// The serial port on a POSIX terminal device: termios for the line, poll for the time-outs.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

class PosixSerialPort final : public SerialPort {
 public:
  explicit PosixSerialPort(Clock& clock) : clock_(clock) {}
  ~PosixSerialPort() override { ClosePort(); }

  ResultCode OpenPort(const std::string& device) override {
    ClosePort();
    const std::string path = ResolvePortDevice(device);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return LINK_E_PORT;
    // flock refuses a second open in this process too (root ignores TIOCEXCL).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
      close(fd);
      return LINK_E_PORT;
    }
    fd_ = fd;
    if (!ConfigureLine()) {
      ClosePort();
      return LINK_E_PORT;
    }
    speed_ = 9600;
    bufferStart_ = bufferEnd_ = 0;
    return RESULT_OK;
  }

  ResultCode SetPortSpeed(uint32_t bitsPerSecond) override {
    termios previous{};
    if (fd_ < 0 || tcgetattr(fd_, &previous) != 0) return LINK_E_PORT;
    speed_ = bitsPerSecond;
    // Speed 0 would hang the line up (B0 drops the modem lines); no probe runs at it.
    if (bitsPerSecond == 0) return LINK_E_PORT;
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
      return LINK_E_PORT;
    }
    return RESULT_OK;
  }

  uint32_t Speed() const override { return speed_; }

  void PurgeInput() override {
    bufferStart_ = bufferEnd_ = 0;
    if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
  }

  ResultCode ReadByte(uint8_t& byte, uint32_t timeoutMs) override {
    if (bufferStart_ < bufferEnd_) {
      byte = buffer_[bufferStart_++];
      return RESULT_OK;
    }
    if (fd_ < 0) return LINK_E_COMM;
    const uint32_t start = clock_.TickMs();
    for (;;) {
      // Ticks are whole milliseconds: only a difference above the time-out proves that the
      // time-out has fully passed.
      const uint32_t elapsed = clock_.TickMs() - start;
      const bool expired = elapsed > timeoutMs;
      const int wait =
          expired ? 0 : static_cast<int>(std::min<uint32_t>(timeoutMs - elapsed + 1, 1u << 30));
      pollfd entry{fd_, POLLIN, 0};
      const int ready = poll(&entry, 1, wait);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return LINK_E_COMM;
      }
      if (ready == 0) {
        if (expired) return LINK_E_TIMEOUT;
        continue;
      }
      if (entry.revents & POLLIN) {
        const ssize_t n = read(fd_, buffer_, sizeof buffer_);
        if (n > 0) {
          bufferStart_ = 1;
          bufferEnd_ = static_cast<size_t>(n);
          byte = buffer_[0];
          return RESULT_OK;
        }
        // Readable but nothing to read: the other end is gone (a hung-up terminal reads 0).
        if (n == 0) return LINK_E_COMM;
        if (errno == EINTR || errno == EAGAIN) continue;
        return LINK_E_COMM;  // EIO, ENXIO, ENODEV: device removed or other end closed
      }
      if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) return LINK_E_COMM;
    }
  }

  ResultCode WriteBlock(const uint8_t* data, size_t count) override {
    if (fd_ < 0) return LINK_E_WRITE;
    const uint64_t budget = 10ull * count + 100;
    const uint32_t start = clock_.TickMs();
    size_t written = 0;
    while (written < count) {
      const ssize_t n = write(fd_, data + written, count - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return LINK_E_WRITE;
      const uint32_t elapsed = clock_.TickMs() - start;
      if (elapsed >= budget) return LINK_E_WRITE;
      pollfd entry{fd_, POLLOUT, 0};
      const int ready = poll(&entry, 1, static_cast<int>(budget - elapsed));
      if (ready < 0 && errno != EINTR) return LINK_E_WRITE;
      if (ready > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL))) return LINK_E_WRITE;
    }
    return RESULT_OK;
  }

  void ClosePort() override {
    if (fd_ < 0) return;
    // While another process holds the device (the virtual probe its pty), the kernel keeps
    // exclusive mode set after our close, and our own next open would fail with EBUSY.
    ioctl(fd_, TIOCNXCL);
    close(fd_);
    fd_ = -1;
    bufferStart_ = bufferEnd_ = 0;
  }

 private:
  // Raw 8N1 at 9600 without flow control, DTR and RTS off, low latency where the driver has it.
  bool ConfigureLine() {
    termios setting{};
    if (tcgetattr(fd_, &setting) != 0) return false;
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
      serial.flags |= ASYNC_LOW_LATENCY;
      ioctl(fd_, TIOCSSERIAL, &serial);
    }
    tcflush(fd_, TCIFLUSH);  // nothing received before the open belongs to this session
    return true;
  }

  bool ApplySpeed(const termios& base, uint32_t bitsPerSecond) {
    const TableSpeed* table = FindTableSpeed(bitsPerSecond);
    if (table == nullptr) return detail::SetCustomLineSpeed(fd_, bitsPerSecond);
    termios setting = base;
    if (cfsetspeed(&setting, table->code) != 0) return false;
    return tcsetattr(fd_, TCSANOW, &setting) == 0;
  }

  Clock& clock_;
  int fd_ = -1;
  uint32_t speed_ = 9600;
  uint8_t buffer_[256] = {};
  size_t bufferStart_ = 0;
  size_t bufferEnd_ = 0;
};

}  // namespace

std::unique_ptr<SerialPort> MakePosixSerialPort(Clock& clock) {
  return std::make_unique<PosixSerialPort>(clock);
}

}  // namespace vanta
