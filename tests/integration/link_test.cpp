// The link session over a real pseudo-terminal against the virtual probe, whose line garbles
// bytes sent at another speed than its own.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "link/link_session.h"
#include "link/loader.h"
#include "platform/ports.h"
#include "sim/virtual_probe.h"

namespace vanta {
namespace {

using Steady = std::chrono::steady_clock;

int64_t MsSince(Steady::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

class LinkOverPty : public ::testing::Test {
 protected:
  void Start(sim::ProbeOptions options = {}) {
    probe = std::make_unique<sim::VirtualProbe>(options);
    ASSERT_TRUE(probe->Start());
    path = probe->DevicePath();
  }
  void TearDown() override {
    link.CloseLink();
    if (probe) probe->Stop();
  }
  // One LDR_IDENTIFY: the reply's length, or a session code.
  int32_t Identify() {
    const uint8_t request[1] = {LDR_IDENTIFY};
    return link.Transact(request, 1, reply, sizeof reply, 1000);
  }

  std::unique_ptr<sim::VirtualProbe> probe;
  std::string path;
  ProbeLink link;
  uint8_t reply[kMaxPayload] = {};
};

TEST_F(LinkOverPty, ProbeAt9600IsMovedToTheRequestedSpeed) {
  Start();
  ASSERT_EQ(link.OpenLink(path, 115200), RESULT_OK);
  EXPECT_EQ(link.Speed(), 115200u);
  EXPECT_EQ(probe->LineSpeed(), 115200u);
  EXPECT_EQ(Identify(), 15);
  EXPECT_EQ(reply[0], LDR_IDENTIFY);
}

TEST_F(LinkOverPty, ASpeedAboveTheTableIsNegotiatedAndUsed) {
  sim::ProbeOptions options;
  options.topSpeed = 460800;
  Start(options);
  ASSERT_EQ(link.OpenLink(path, 921600), RESULT_OK);
  EXPECT_EQ(link.Speed(), 460800u);  // what the probe answered
  EXPECT_EQ(probe->LineSpeed(), 460800u);
  EXPECT_EQ(Identify(), 15);
}

TEST_F(LinkOverPty, SearchFindsAProbeAt57600) {
  sim::ProbeOptions options;
  options.startSpeed = 57600;
  Start(options);
  ASSERT_EQ(link.OpenLink(path, 19200), RESULT_OK);
  EXPECT_EQ(link.Speed(), 19200u);
  EXPECT_EQ(probe->LineSpeed(), 19200u);
  EXPECT_EQ(Identify(), 15);
}

TEST_F(LinkOverPty, ProbeAlreadyAtTheRequestedSpeedIsTakenAtOnce) {
  sim::ProbeOptions options;
  options.startSpeed = 38400;
  Start(options);
  const auto start = Steady::now();
  ASSERT_EQ(link.OpenLink(path, 38400), RESULT_OK);
  EXPECT_LT(MsSince(start), 900);  // one settle wait, no search
  EXPECT_EQ(link.Speed(), 38400u);
}

TEST_F(LinkOverPty, ProbeNaming38400LeavesTheLinkThere) {
  sim::ProbeOptions options;
  options.answerSpeed = 38400;
  Start(options);
  ASSERT_EQ(link.OpenLink(path, 115200), RESULT_OK);
  EXPECT_EQ(link.Speed(), 38400u);
  EXPECT_EQ(probe->LineSpeed(), 38400u);
  EXPECT_EQ(Identify(), 15);
}

TEST_F(LinkOverPty, PortIndexOpensTheComLinkAndAClosedLinkReopens) {
  Start();
  char dir[] = "/tmp/vanta-link-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const char* old = getenv("XDG_CONFIG_HOME");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_CONFIG_HOME", dir, 1);
  std::string error;
  ASSERT_TRUE(MapPort(4, path, error)) << error;

  ASSERT_EQ(link.OpenLinkByIndex(3, 3), RESULT_OK);
  EXPECT_EQ(link.Speed(), 57600u);
  // Another link on the same device is refused while this one holds it.
  ProbeLink other;
  EXPECT_EQ(other.OpenLink(path, 57600), LINK_E_PORT);
  EXPECT_EQ(other.PortOpenFailure().fault, OpenFault::Busy);
  link.CloseLink();
  // The probe keeps its end open: the port must have left exclusive mode on close.
  ASSERT_EQ(link.OpenLinkByIndex(3, 3), RESULT_OK);
  EXPECT_EQ(Identify(), 15);

  if (old != nullptr) {
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
  std::filesystem::remove_all(dir);
}

TEST_F(LinkOverPty, SilentProbeGivesNoReplyAndLeavesThePortFree) {
  Start();
  probe->Faults().silent = true;
  const auto start = Steady::now();
  EXPECT_EQ(link.OpenLink(path, 115200), SESSION_E_NO_REPLY);
  EXPECT_LT(MsSince(start), 6 * 650 + 1000);
  EXPECT_FALSE(link.IsOpen());
  probe->Faults().silent = false;
  EXPECT_EQ(link.OpenLink(path, 115200), RESULT_OK);
}

TEST_F(LinkOverPty, SetSpeedAnswerOfWrongLengthIsPortFailure) {
  Start();
  probe->Faults().linkSetSpeedReplyLength = 6;
  EXPECT_EQ(link.OpenLink(path, 57600), LINK_E_PORT);
  EXPECT_FALSE(link.IsOpen());
}

TEST_F(LinkOverPty, NoiseBeforeEveryReplyIsSkipped) {
  Start();
  ASSERT_EQ(link.OpenLink(path, 115200), RESULT_OK);
  probe->Faults().noiseBeforeFrame = 40;
  probe->ResetCounters();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(Identify(), 15) << i;
  EXPECT_EQ(probe->GetCounters().repeatsSeen, 0u);
}

TEST_F(LinkOverPty, CorruptedAndLostBytesAreRecoveredByRepeats) {
  sim::ProbeOptions options;
  options.seed = 11;
  Start(options);
  ASSERT_EQ(link.OpenLink(path, 115200), RESULT_OK);
  const std::vector<uint8_t> flash = probe->ReadFlash(0x01000000, 64);
  // About one reply frame (some 80 bytes) in four is damaged.
  probe->Faults().corruptRate = 0.002;
  probe->Faults().dropRate = 0.001;
  probe->Faults().insertRate = 0.001;
  probe->ResetCounters();
  int good = 0;
  for (int i = 0; i < 40; ++i) {
    uint8_t data[64] = {};
    const ResultCode result = ReadMemory(link, 0x01000000, 64, data);
    if (result == RESULT_OK) {
      ++good;
      // What the link delivers is never damaged: the check byte and length catch every fault.
      EXPECT_EQ(std::vector<uint8_t>(data, data + 64), flash) << i;
    } else {
      EXPECT_EQ(result, SESSION_E_NO_REPLY) << i;
    }
  }
  EXPECT_GE(good, 36);
  EXPECT_GT(probe->GetCounters().repeatsSeen, 0u);
}

TEST_F(LinkOverPty, ReplyOfWrongLengthIsAskedForAgain) {
  Start();
  ASSERT_EQ(link.OpenLink(path, 115200), RESULT_OK);
  probe->ResetCounters();
  probe->Faults().wrongHeaderLengthOnce = 1;
  EXPECT_EQ(Identify(), 15);
  EXPECT_EQ(probe->GetCounters().repeatsSeen, 1u);
  EXPECT_EQ(link.Counter(), 1);
}

TEST_F(LinkOverPty, UnansweredRequestIsRepeatedAfterItsTimeOut) {
  Start();
  ASSERT_EQ(link.OpenLink(path, 115200), RESULT_OK);
  probe->Faults().silentForRequests = 1;
  const auto start = Steady::now();
  EXPECT_EQ(Identify(), 15);
  // T = (1 + 1502) * 10000 / 115200 + 1000 + 200 = 1330 ms before the repeat.
  EXPECT_GE(MsSince(start), 1330);

  probe->Faults().silentForRequests = 3;
  EXPECT_EQ(Identify(), SESSION_E_NO_REPLY);
  EXPECT_TRUE(link.IsOpen());
}

TEST_F(LinkOverPty, HangUpEndsTransactionsWithinTheTimeOuts) {
  Start();
  ASSERT_EQ(link.OpenLink(path, 115200), RESULT_OK);
  probe->HangUp();
  const auto start = Steady::now();
  EXPECT_EQ(Identify(), SESSION_E_NO_REPLY);
  EXPECT_LT(MsSince(start), 1000);  // the dead line fails at once; no attempt waits its time-out
}

TEST_F(LinkOverPty, HangUpInTheMiddleOfARequestEndsWithinTheTimeOuts) {
  Start();
  ASSERT_EQ(link.OpenLink(path, 115200), RESULT_OK);
  probe->Faults().hangUpAfterBytes = 5;
  std::vector<uint8_t> data(1024, 0x5A);
  uint32_t value = 0;
  const auto start = Steady::now();
  EXPECT_EQ(ProgramMemory(link, 0x01010000, 1024, data.data(), value), SESSION_E_NO_REPLY);
  // Three attempts of T = (1031 + 1502) * 10000 / 115200 + 1000 + 200 = 1419 ms at the most.
  EXPECT_LT(MsSince(start), 3 * 1419 + 1000);
}

TEST_F(LinkOverPty, HangUpWhileOpeningFailsTheOpen) {
  Start();
  probe->Faults().hangUpAfterBytes = 3;  // gone during the first LINK_SYNC
  const auto start = Steady::now();
  EXPECT_EQ(link.OpenLink(path, 115200), SESSION_E_NO_REPLY);
  EXPECT_LT(MsSince(start), 6 * 300 + 1000);  // the settle waits alone; no read waits
  EXPECT_FALSE(link.IsOpen());
}

TEST(FramesOverPty, ReceiveOnALineWhoseOtherEndIsGoneIsCommFailure) {
  sim::VirtualProbe probe;
  ASSERT_TRUE(probe.Start());
  auto port = MakePosixSerialPort();
  ASSERT_EQ(port->OpenPort(probe.DevicePath()), PortStatus::Ok);
  probe.HangUp();
  uint8_t payload[16];
  const auto start = Steady::now();
  EXPECT_EQ(ReceiveFrame(*port, payload, sizeof payload, 5000, SystemClock()), LINK_E_COMM);
  EXPECT_LT(MsSince(start), 1000);
  port->ClosePort();
  probe.Stop();
}

}  // namespace
}  // namespace vanta
