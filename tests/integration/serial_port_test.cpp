// The POSIX serial port over real pseudo-terminals: the test holds the master side (the "probe")
// and a second descriptor of the slave, through which it sees the line setting.
#include "platform/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/ports.h"
#include "platform/serial_port_p.h"

namespace vanta {
namespace {

using Steady = std::chrono::steady_clock;

int64_t MsSince(Steady::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[128] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    path = name;
    port = MakePosixSerialPort();
  }
  void TearDown() override {
    port.reset();
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }

  void MasterWrite(const std::string& bytes) {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Everything the port wrote, read from the master side until count bytes or a second passes.
  std::string MasterRead(size_t count) {
    std::string got;
    const auto start = Steady::now();
    while (got.size() < count && MsSince(start) < 1000) {
      pollfd entry{master, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }
  void WaitUntilSlaveReadable() {
    pollfd entry{slave, POLLIN, 0};
    ASSERT_EQ(poll(&entry, 1, 1000), 1);
  }

  int master = -1;
  int slave = -1;
  std::string path;
  std::unique_ptr<SerialPort> port;
};

TEST_F(PtyPort, OpenSetsRaw8N1At9600WhateverTheLineHadBefore) {
  termios before{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  before.c_cflag = (before.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
  before.c_iflag |= IXON | IXOFF | IXANY | ICRNL | INPCK;
  before.c_lflag |= ICANON | ECHO;
  before.c_oflag |= OPOST | ONLCR;
  before.c_cc[VMIN] = 1;
  cfsetspeed(&before, B19200);
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);

  ASSERT_EQ(port->OpenPort(path), PortStatus::Ok);
  EXPECT_EQ(port->Speed(), 9600u);
  termios after{};
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(after.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(after.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(after.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INPCK | ISTRIP), 0u);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(after.c_oflag & OPOST, 0u);
  EXPECT_EQ(after.c_cc[VMIN], 0);
  EXPECT_EQ(after.c_cc[VTIME], 0);
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetispeed(&after), static_cast<speed_t>(B9600));

  // A pseudo-terminal has no modem lines; where the driver reports them, DTR and RTS are off.
  int lines = 0;
  const ModemLines reported = port->GetModemLines();
  EXPECT_EQ(reported.known, ioctl(slave, TIOCMGET, &lines) == 0);
  if (reported.known) {
    EXPECT_EQ(lines & (TIOCM_DTR | TIOCM_RTS), 0);
    EXPECT_FALSE(reported.dtr || reported.rts);
  }

  // Bytes pass unchanged both ways: no CR/LF translation, no 7-bit stripping.
  MasterWrite(std::string("\r\n\xff\x11\x13", 5));
  std::string got;
  for (int i = 0; i < 5; ++i) {
    uint8_t byte = 0;
    ASSERT_EQ(port->ReadByte(byte, 1000), PortStatus::Ok);
    got.push_back(static_cast<char>(byte));
  }
  EXPECT_EQ(got, std::string("\r\n\xff\x11\x13", 5));
  const uint8_t out[3] = {'\n', 0x80, 0x10};
  ASSERT_EQ(port->WriteBlock(out, 3), PortStatus::Ok);
  EXPECT_EQ(MasterRead(3), std::string("\n\x80\x10", 3));
}

TEST_F(PtyPort, CloseLeavesTheLineAsTheOpenFoundIt) {
  termios before{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  before.c_cflag = (before.c_cflag & ~CSIZE) | CS7 | PARENB | HUPCL;
  before.c_lflag |= ICANON | ECHO;
  before.c_cc[VMIN] = 1;
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
  for (uint32_t speed : {19200u, 31250u}) {  // a table speed and one outside the table
    ASSERT_TRUE(detail::SetCustomLineSpeed(slave, speed));
    ASSERT_TRUE(tcgetattr(slave, &before) == 0);
    ASSERT_EQ(port->OpenPort(path), PortStatus::Ok);
    ASSERT_EQ(port->SetPortSpeed(250000), PortStatus::Ok);
    port->ClosePort();
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_cflag, before.c_cflag) << speed;
    EXPECT_EQ(after.c_iflag, before.c_iflag) << speed;
    EXPECT_EQ(after.c_lflag, before.c_lflag) << speed;
    EXPECT_EQ(after.c_oflag, before.c_oflag) << speed;
    EXPECT_EQ(after.c_cc[VMIN], 1) << speed;
    uint32_t line = 0;
    ASSERT_TRUE(detail::GetLineSpeed(slave, line));
    EXPECT_EQ(line, speed);
  }
}

TEST_F(PtyPort, HoldersAreFoundWithoutOpeningAndAPseudoTerminalIsExempt) {
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    dup2(fd, STDIN_FILENO);
    execl("/bin/sleep", "sleep", "10", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::vector<PortHolder> holders;
  for (int i = 0; i < 200 && holders.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (const PortHolder& holder : FindPortHolders(path)) {
      if (holder.pid == child && holder.command == "sleep") holders.push_back(holder);
    }
  }
  EXPECT_EQ(holders.size(), 1u);
  for (const PortHolder& holder : FindPortHolders(path)) EXPECT_NE(holder.pid, getpid());
  EXPECT_TRUE(IsPseudoTerminal(path));
  EXPECT_FALSE(IsPseudoTerminal("/dev/null"));
  EXPECT_EQ(port->OpenPort(path), PortStatus::Ok);  // the other end's holders do not count
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

TEST_F(PtyPort, ReadTimeOutNeverEndsEarly) {
  ASSERT_EQ(port->OpenPort(path), PortStatus::Ok);
  for (uint32_t timeout : {0u, 1u, 37u, 150u}) {
    uint8_t byte = 0;
    const auto start = Steady::now();
    EXPECT_EQ(port->ReadByte(byte, timeout), PortStatus::TimedOut);
    const int64_t elapsed = MsSince(start);
    EXPECT_GE(elapsed, static_cast<int64_t>(timeout)) << timeout;
    EXPECT_LT(elapsed, timeout + 500) << timeout;  // generous: the machine may be busy
  }
}

TEST_F(PtyPort, ByteArrivingWithinTheTimeOutIsDeliveredAtOnce) {
  ASSERT_EQ(port->OpenPort(path), PortStatus::Ok);
  std::thread sender([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    MasterWrite("AB");
  });
  uint8_t byte = 0;
  const auto start = Steady::now();
  EXPECT_EQ(port->ReadByte(byte, 5000), PortStatus::Ok);
  EXPECT_LT(MsSince(start), 1000);
  sender.join();
  EXPECT_EQ(byte, 'A');
  EXPECT_EQ(port->ReadByte(byte, 0), PortStatus::Ok);
  EXPECT_EQ(byte, 'B');
}

TEST_F(PtyPort, OtherEndGoneIsCommFailureWithoutWaitingTheTimeOut) {
  ASSERT_EQ(port->OpenPort(path), PortStatus::Ok);
  std::thread closer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    close(master);
    master = -1;
  });
  uint8_t byte = 0;
  const auto start = Steady::now();
  EXPECT_EQ(port->ReadByte(byte, 10000), PortStatus::Gone);
  EXPECT_LT(MsSince(start), 2000);
  closer.join();
  EXPECT_EQ(port->ReadByte(byte, 10000), PortStatus::Gone);
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_EQ(port->WriteBlock(&byte, 1), PortStatus::Gone);
}

TEST_F(PtyPort, WriteDeliversALargestFrameWhole) {
  ASSERT_EQ(port->OpenPort(path), PortStatus::Ok);
  std::string frame(3006, '\0');
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<char>(i * 7);
  std::string got;
  std::thread reader([&] { got = MasterRead(frame.size()); });
  EXPECT_EQ(port->WriteBlock(reinterpret_cast<const uint8_t*>(frame.data()), frame.size()),
            PortStatus::Ok);
  reader.join();
  EXPECT_EQ(got, frame);
}

TEST_F(PtyPort, WriteThatCannotGoOutFailsAfterItsTimeOut) {
  ASSERT_EQ(port->OpenPort(path), PortStatus::Ok);
  ASSERT_EQ(tcflow(slave, TCOOFF), 0);  // output suspended: nothing is accepted
  const uint8_t bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const auto start = Steady::now();
  EXPECT_EQ(port->WriteBlock(bytes, sizeof bytes), PortStatus::WriteFailed);
  const int64_t elapsed = MsSince(start);
  EXPECT_GE(elapsed, 200);  // 10 ms per byte plus 100 ms
  EXPECT_LT(elapsed, 1500);

  ASSERT_EQ(tcflow(slave, TCOON), 0);
  tcflush(master, TCIFLUSH);
  EXPECT_EQ(port->WriteBlock(bytes, 3), PortStatus::Ok);
}

TEST_F(PtyPort, PurgeDropsBufferedAndQueuedInput) {
  ASSERT_EQ(port->OpenPort(path), PortStatus::Ok);
  MasterWrite("XYZ");
  uint8_t byte = 0;
  ASSERT_EQ(port->ReadByte(byte, 1000),
            PortStatus::Ok);  // Y and Z may now sit in the port's buffer
  port->PurgeInput();
  EXPECT_EQ(port->ReadByte(byte, 50), PortStatus::TimedOut);

  MasterWrite("123");
  WaitUntilSlaveReadable();  // in the driver's queue
  port->PurgeInput();
  EXPECT_EQ(port->ReadByte(byte, 50), PortStatus::TimedOut);
  MasterWrite("4");
  ASSERT_EQ(port->ReadByte(byte, 1000), PortStatus::Ok);
  EXPECT_EQ(byte, '4');
}

TEST_F(PtyPort, SecondOpenInThisProcessIsRefusedUntilClose) {
  ASSERT_EQ(port->OpenPort(path), PortStatus::Ok);
  auto second = MakePosixSerialPort();
  EXPECT_EQ(second->OpenPort(path), PortStatus::OpenFailed);
  EXPECT_EQ(second->LastOpenFailure().fault, OpenFault::Busy);
  uint8_t byte = 0x55;
  EXPECT_EQ(port->WriteBlock(&byte, 1), PortStatus::Ok);  // the refused open left the first alone
  port->ClosePort();
  EXPECT_EQ(second->OpenPort(path), PortStatus::Ok);
  second->ClosePort();
  EXPECT_EQ(port->OpenPort(path), PortStatus::Ok);  // reopen after close
}

// Runs open(path, O_RDWR) in a child as an unprivileged user (root ignores exclusive mode).
// Returns true when the child could open the device.
bool OpenAsOtherUser(const std::string& path) {
  const bool root = geteuid() == 0;
  const pid_t child = fork();
  if (child == 0) {
    const char* script = "exec 2>/dev/null; exec 3<>\"$0\"";
    if (root) {
      execl("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
            "/bin/sh", "-c", script, path.c_str(), static_cast<char*>(nullptr));
    } else {
      execl("/bin/sh", "sh", "-c", script, path.c_str(), static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(PtyPort, OtherProcessIsRefusedWhileOpenAndAdmittedAfterClose) {
  if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "setpriv is missing: cannot test as an unprivileged user";
  }
  ASSERT_EQ(fchmod(slave, 0666), 0);
  ASSERT_TRUE(OpenAsOtherUser(path)) << "the other user cannot open the device at all";
  ASSERT_EQ(port->OpenPort(path), PortStatus::Ok);
  EXPECT_FALSE(OpenAsOtherUser(path));
  // The test still holds the device open: without leaving exclusive mode the close would leave
  // it locked.
  port->ClosePort();
  EXPECT_TRUE(OpenAsOtherUser(path));
  EXPECT_EQ(port->OpenPort(path), PortStatus::Ok);
  EXPECT_FALSE(OpenAsOtherUser(path));
}

TEST_F(PtyPort, AnySpeedIsSettableAndZeroIsRefused) {
  ASSERT_EQ(port->OpenPort(path), PortStatus::Ok);
  uint32_t line = 0;
  for (uint32_t speed : {250000u, 57600u, 31250u, 115200u, 9600u}) {
    EXPECT_EQ(port->SetPortSpeed(speed), PortStatus::Ok) << speed;
    EXPECT_EQ(port->Speed(), speed);
    ASSERT_TRUE(detail::GetLineSpeed(slave, line));
    EXPECT_EQ(line, speed);
  }
  termios setting{};
  ASSERT_EQ(tcgetattr(slave, &setting), 0);
  EXPECT_EQ(setting.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));  // only the speed changed
  EXPECT_EQ(setting.c_cc[VMIN], 0);

  // A refused speed is held in the field while the line keeps its old speed.
  EXPECT_EQ(port->SetPortSpeed(0), PortStatus::SpeedRefused);
  EXPECT_EQ(port->Speed(), 0u);
  ASSERT_TRUE(detail::GetLineSpeed(slave, line));
  EXPECT_EQ(line, 9600u);
}

TEST_F(PtyPort, ComNameOpensTheLinkedDevice) {
  char dir[] = "/tmp/vanta-ptyport-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const char* old = getenv("XDG_CONFIG_HOME");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_CONFIG_HOME", dir, 1);
  std::string error;
  ASSERT_TRUE(MapPort(7, path, error)) << error;
  EXPECT_EQ(port->OpenPort("\\\\.\\COM7"), PortStatus::Ok);
  MasterWrite("k");
  uint8_t byte = 0;
  EXPECT_EQ(port->ReadByte(byte, 1000), PortStatus::Ok);
  EXPECT_EQ(byte, 'k');
  if (old != nullptr) {
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vanta
