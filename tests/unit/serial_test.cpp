#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/serial_port.h"
#include "platform/windows_errors.h"
#include "tests/support/fake_port.h"

namespace vanta {
namespace {

using test::FakeClock;

// Ticks are whole milliseconds: only the tick after the last one of the time-out proves it has
// fully passed, on either side of the wrap of the counter.
TEST(Deadline, ExpiresOnlyOnceMoreThanItsTimeHasPassedAcrossTheWrap) {
  for (uint32_t start : {0xFFFFFF00u, 0xFFFFFFFFu, 0u, 12345u}) {
    FakeClock clock(start);
    const Deadline deadline(clock, 1000);
    EXPECT_FALSE(deadline.Expired());
    EXPECT_EQ(deadline.RemainingMs(), 1000u);
    clock.Advance(999);
    EXPECT_EQ(deadline.RemainingMs(), 1u);
    clock.Advance(1);
    EXPECT_FALSE(deadline.Expired()) << start;
    EXPECT_EQ(deadline.RemainingMs(), 0u);
    clock.Advance(1);
    EXPECT_TRUE(deadline.Expired()) << start;
    EXPECT_EQ(deadline.ElapsedMs(), 1001u);
  }
  FakeClock clock(7);
  EXPECT_TRUE(Deadline(clock, 0).Expired());  // nothing to wait for
}

TEST(DelayMs, WaitsTheFullTimeAcrossTheWrapOfTheTick) {
  for (uint32_t start : {0xFFFFFF00u, 0xFFFFFFFFu, 0u, 12345u}) {
    FakeClock clock(start);
    DelayMs(clock, 1000);
    EXPECT_EQ(clock.now - start, 1001u) << start;
  }
}

TEST(DelayMs, KeepsWaitingWhenSleepsComeBackEarly) {
  FakeClock clock(0xFFFFFFF0u);
  clock.sleepGrain = 7;  // a sleeper that wakes early
  DelayMs(clock, 300);
  EXPECT_GT(clock.now - 0xFFFFFFF0u, 300u);
  EXPECT_LT(clock.now - 0xFFFFFFF0u, 308u);
  FakeClock idle(5);
  DelayMs(idle, 0);
  EXPECT_EQ(idle.now, 5u);
}

TEST(DelayMs, SystemClockWaitsAtLeastTheTimeAsked) {
  Clock& clock = SystemClock();
  const uint32_t start = clock.TickMs();
  DelayMs(clock, 30);
  EXPECT_GE(clock.TickMs() - start, 30u);
}

// What needs no terminal: names that are no serial port, and a port that is not open.
TEST(PosixSerialPort, RefusesWhatIsNoTerminalWithTheReasonAndLeavesNothingOpen) {
  auto port = MakePosixSerialPort();
  const struct {
    const char* device;
    OpenFault fault;
  } kRows[] = {
      {"/nonexistent/ttyX", OpenFault::NoDevice},
      {"/dev/null", OpenFault::NotATerminal},  // opens, but has no line setting
      {"", OpenFault::NoDevice},
  };
  for (const auto& row : kRows) {
    EXPECT_EQ(port->OpenPort(row.device), PortStatus::OpenFailed) << row.device;
    EXPECT_EQ(port->LastOpenFailure().fault, row.fault) << row.device;
    EXPECT_EQ(port->LastOpenFailure().device, row.device);
    EXPECT_FALSE(port->LastOpenFailure().systemText.empty());
  }

  uint8_t byte = 0;
  EXPECT_EQ(port->ReadByte(byte, 0), PortStatus::Gone);
  EXPECT_EQ(port->WriteBlock(&byte, 1), PortStatus::Gone);
  EXPECT_EQ(port->SetPortSpeed(19200), PortStatus::SpeedRefused);
  EXPECT_FALSE(port->GetModemLines().known);
  port->PurgeInput();
  port->ClosePort();
  port->ClosePort();
}

// Windows refuses a COM port held by another program with ERROR_ACCESS_DENIED, which Wine never
// shows (it lets a second program open the port): the reasons are checked by their codes.
TEST(WindowsOpenFaults, Win32ErrorsGiveTheReasonsTheHintsName) {
  const struct {
    uint32_t error;
    bool opened;
    OpenFault fault;
  } kRows[] = {
      {2, false, OpenFault::NoDevice},      // ERROR_FILE_NOT_FOUND: no such port
      {3, false, OpenFault::NoDevice},      // ERROR_PATH_NOT_FOUND
      {5, false, OpenFault::Busy},          // ERROR_ACCESS_DENIED: open in another program
      {32, false, OpenFault::Busy},         // ERROR_SHARING_VIOLATION
      {31, false, OpenFault::Other},        // ERROR_GEN_FAILURE: the system's text says it
      {1, false, OpenFault::Other},         // an invalid function at the open is no reason
      {1, true, OpenFault::NotATerminal},   // a handle without communications functions
      {50, true, OpenFault::NotATerminal},  // ERROR_NOT_SUPPORTED
      {5, true, OpenFault::Other},          // access denied on an open port is not busy
      {87, true, OpenFault::Other},         // ERROR_INVALID_PARAMETER from SetCommState
  };
  for (const auto& row : kRows) {
    EXPECT_EQ(OpenFaultOfWin32Error(row.error, row.opened), row.fault)
        << row.error << (row.opened ? " after the open" : " at the open");
  }
}

}  // namespace
}  // namespace vanta
