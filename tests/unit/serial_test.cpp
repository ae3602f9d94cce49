#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/serial_port.h"
#include "tests/support/fake_port.h"

namespace vanta {
namespace {

using test::FakeClock;

TEST(DelayMs, WaitsTheFullTimeAcrossTheWrapOfTheTick) {
  for (uint32_t start : {0xFFFFFF00u, 0xFFFFFFFFu, 0u, 12345u}) {
    FakeClock clock(start);
    DelayMs(clock, 1000);
    EXPECT_EQ(clock.now - start, 1000u) << start;
  }
}

TEST(DelayMs, KeepsWaitingWhenSleepsComeBackEarly) {
  FakeClock clock(0xFFFFFFF0u);
  clock.sleepGrain = 7;  // a sleeper that wakes early
  DelayMs(clock, 300);
  EXPECT_GE(clock.now - 0xFFFFFFF0u, 300u);
  EXPECT_LT(clock.now - 0xFFFFFFF0u, 307u);
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
TEST(PosixSerialPort, RefusesWhatIsNoTerminalAndLeavesNothingOpen) {
  auto port = MakePosixSerialPort();
  EXPECT_EQ(port->OpenPort("/nonexistent/ttyX"), LINK_E_PORT);
  EXPECT_EQ(port->OpenPort("/dev/null"), LINK_E_PORT);  // opens, but has no line setting
  EXPECT_EQ(port->OpenPort(""), LINK_E_PORT);

  uint8_t byte = 0;
  EXPECT_EQ(port->ReadByte(byte, 0), LINK_E_COMM);
  EXPECT_EQ(port->WriteBlock(&byte, 1), LINK_E_WRITE);
  EXPECT_EQ(port->SetPortSpeed(19200), LINK_E_PORT);
  port->PurgeInput();
  port->ClosePort();
  port->ClosePort();
}

}  // namespace
}  // namespace vanta
