#include "link/link_session.h"

#include <gtest/gtest.h>

#include <utility>

#include "tests/support/fake_port.h"

namespace vanta {
namespace {

using test::Bytes;
using test::FakeClock;
using test::FakePort;
using test::FakeProbe;

const Bytes kWakeUp = {0xDB, 0xDE};
const Bytes kSyncFrame = {0x10, 0x02, 0x00, 0x01, 0x01, 0x10, 0x03, 0x00};

class LinkSession : public ::testing::Test {
 protected:
  LinkSession() {
    auto fake = std::make_unique<FakePort>(clock);
    port = fake.get();
    link = std::make_unique<ProbeLink>(std::move(fake), clock);
    probe = std::make_unique<FakeProbe>(*port, clock, 9600);
  }

  void OpenAt(uint32_t speed) {
    probe->speed = speed;
    ASSERT_EQ(link->OpenLink("fake", speed), RESULT_OK);
    port->writes.clear();
    probe->received.clear();
  }

  FakeClock clock{1000};
  FakePort* port = nullptr;
  std::unique_ptr<ProbeLink> link;
  std::unique_ptr<FakeProbe> probe;
};

TEST(LinkNames, PortAndSpeedIndexes) {
  EXPECT_EQ(DeviceNameFromIndex(0), "\\\\.\\COM1");
  EXPECT_EQ(DeviceNameFromIndex(18), "\\\\.\\COM19");
  EXPECT_EQ(DeviceNameFromIndex(-1), "\\\\.\\COM0");
  const std::pair<int, uint32_t> speeds[] = {{0, 9600},   {1, 19200}, {2, 38400}, {3, 57600},
                                             {4, 115200}, {5, 9600},  {7, 9600},  {-1, 9600}};
  for (auto [index, speed] : speeds) EXPECT_EQ(SpeedFromIndex(index), speed) << index;
}

TEST_F(LinkSession, OpenByIndexNamesTheDeviceAndAsksForTheSpeed) {
  probe->speed = 38400;
  ASSERT_EQ(link->OpenLinkByIndex(0, 2), RESULT_OK);
  EXPECT_EQ(port->openedDevice, "\\\\.\\COM1");
  EXPECT_EQ(link->Speed(), 38400u);
}

TEST_F(LinkSession, ProbeFoundAt9600IsMovedToTheRequestedSpeed) {
  ASSERT_EQ(link->OpenLink("fake", 115200), RESULT_OK);
  EXPECT_TRUE(link->IsOpen());
  EXPECT_EQ(link->Speed(), 115200u);
  EXPECT_EQ(link->Counter(), 0);
  EXPECT_EQ(port->speedRequests, (std::vector<uint32_t>{115200, 115200, 9600, 115200}));
  const Bytes setSpeed = {0x10, 0x02, 0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00, 0x10, 0x03, 0xC5};
  // First try at 115200 (unanswered), then 9600, LINK_SET_SPEED, LINK_SYNC at the new speed.
  EXPECT_EQ(port->writes,
            (std::vector<Bytes>{kWakeUp, kSyncFrame, kWakeUp, kSyncFrame, setSpeed, kSyncFrame}));
  EXPECT_EQ(probe->syncs, 2);
  EXPECT_EQ(probe->setSpeeds, 1);
  // 300 ms (and the tick that proves them) after each of two speed tries and after LINK_SET_SPEED
  EXPECT_EQ(clock.slept, 3 * 301u);
  EXPECT_EQ(port->purges, 0);  // the speed search purges nothing
}

TEST_F(LinkSession, ProbeAlreadyAtTheRequestedSpeedAnswersTheFirstSync) {
  probe->speed = 57600;
  ASSERT_EQ(link->OpenLink("fake", 57600), RESULT_OK);
  EXPECT_EQ(port->speedRequests, (std::vector<uint32_t>{115200, 57600}));
  EXPECT_EQ(port->writes, (std::vector<Bytes>{kWakeUp, kSyncFrame}));
  EXPECT_EQ(probe->setSpeeds, 0);
  EXPECT_EQ(link->Speed(), 57600u);
}

TEST_F(LinkSession, ProbeNamingAnotherSpeedLeavesTheLinkThere) {
  probe->answerSpeed = 38400;
  ASSERT_EQ(link->OpenLink("fake", 115200), RESULT_OK);
  EXPECT_EQ(link->Speed(), 38400u);
  EXPECT_EQ(port->speedRequests.back(), 38400u);
  EXPECT_EQ(probe->syncs, 2);  // the second at 38400
}

TEST_F(LinkSession, SpeedAboveTheTableIsAskedForWhenThePortTakesIt) {
  ASSERT_EQ(link->OpenLink("fake", 921600), RESULT_OK);
  EXPECT_EQ(link->Speed(), 921600u);
  EXPECT_EQ(probe->speed, 921600u);

  link->CloseLink();
  probe->speed = 9600;
  port->refusedSpeeds = {460800};
  ASSERT_EQ(link->OpenLink("fake", 460800), RESULT_OK);
  EXPECT_EQ(link->Speed(), 115200u);  // a port that cannot: the table's top
}

TEST_F(LinkSession, PortRefusing115200LimitsSearchAndRequestTo57600) {
  port->refusedSpeeds = {115200};
  ASSERT_EQ(link->OpenLink("fake", 115200), RESULT_OK);
  EXPECT_EQ(port->speedRequests, (std::vector<uint32_t>{115200, 57600, 9600, 57600}));
  EXPECT_EQ(link->Speed(), 57600u);
  ASSERT_EQ(probe->received.size(), 3u);  // sync, set speed, sync
  EXPECT_EQ(probe->received[1], (Bytes{0x00, 0x05, 0x03, 0x00, 0x00, 0xE1, 0x00}));

  link->CloseLink();
  port->speedRequests.clear();
  probe->speed = 0;  // nobody answers: the search covers 9600 to 57600 only
  EXPECT_EQ(link->OpenLink("fake", 115200), SESSION_E_NO_REPLY);
  EXPECT_EQ(port->speedRequests, (std::vector<uint32_t>{115200, 57600, 9600, 19200, 38400, 57600}));
}

TEST_F(LinkSession, NoProbeTriesSixSpeedsAndLeavesThePortClosed) {
  probe->speed = 0;
  EXPECT_EQ(link->OpenLink("fake", 19200), SESSION_E_NO_REPLY);
  EXPECT_FALSE(link->IsOpen());
  EXPECT_FALSE(port->isOpen);
  EXPECT_EQ(port->speedRequests,
            (std::vector<uint32_t>{115200, 19200, 9600, 19200, 38400, 57600, 115200}));
  EXPECT_EQ(clock.slept, 6 * 301u);
}

TEST_F(LinkSession, SpeedChangesWaitForWrittenBytesToLeaveWithinTheWriteTimeOut) {
  // A UART that takes 30 ms a byte (a slow adapter, within the write time-out): a silent probe's
  // LINK_SYNC is still going out when its reply time-out ends, and would finish at the next
  // speed.
  port->transmitMsPerByte = 30;
  probe->speed = 0;
  EXPECT_EQ(link->OpenLink("fake", 19200), SESSION_E_NO_REPLY);
  EXPECT_EQ(port->speedRequests.size(), 7u);
  EXPECT_EQ(port->speedChangesWhileSending, 0);

  // One that never gets its bytes out: each change waits the write time-out, then goes ahead.
  port->transmitMsPerByte = 1000000;
  const uint32_t start = clock.now;
  EXPECT_EQ(link->OpenLink("fake", 19200), SESSION_E_NO_REPLY);
  EXPECT_EQ(port->speedChangesWhileSending, 5);  // all but the two before the first write
  EXPECT_LT(clock.now - start, 7 * 1000u);
}

TEST_F(LinkSession, DeviceThatIsGoneAnswersNoAttemptAndNoLaterRequest) {
  OpenAt(115200);
  probe->loader = [](const Bytes&) { return std::optional<Bytes>(); };
  port->hungUp = true;
  const uint8_t request[1] = {100};
  uint8_t reply[16];
  EXPECT_EQ(link->Transact(request, 1, reply, sizeof reply, 0), SESSION_E_NO_REPLY);
  EXPECT_TRUE(link->DeviceGone());
  EXPECT_EQ(port->writes.size(), 1u);  // one attempt, not three
  EXPECT_EQ(link->Transact(request, 1, reply, sizeof reply, 0), SESSION_E_NO_REPLY);
  EXPECT_EQ(port->writes.size(), 1u);

  port->hungUp = false;  // a new adapter: the next open starts afresh
  link->CloseLink();
  EXPECT_EQ(link->OpenLink("fake", 115200), RESULT_OK);
  EXPECT_FALSE(link->DeviceGone());
}

TEST_F(LinkSession, FailedSpeedChangeOrWakeUpCountsAsNoAnswer) {
  port->refusedSpeeds = {19200};
  probe->speed = 38400;
  port->failNextWrites = 2;
  // First try at 19200: refused, nothing written. Search: the wake-up pairs at 9600 and 38400
  // fail, 19200 is refused, 57600 and 115200 are silent.
  EXPECT_EQ(link->OpenLink("fake", 19200), SESSION_E_NO_REPLY);
  EXPECT_EQ(probe->syncs, 0);
  EXPECT_EQ(clock.slept, 6 * 301u);  // the settle wait comes after every try
}

TEST_F(LinkSession, SetSpeedAnswerOfWrongLengthIsPortFailure) {
  for (size_t length : {0u, 3u, 6u, 8u}) {
    probe->speed = 9600;
    probe->setSpeedReplyLength = length;
    EXPECT_EQ(link->OpenLink("fake", 38400), LINK_E_PORT) << length;
    EXPECT_FALSE(port->isOpen);
  }
}

TEST_F(LinkSession, UnusableNamedSpeedIsSpeedFailure) {
  probe->answerSpeed = 250000;
  port->refusedSpeeds = {250000};
  EXPECT_EQ(link->OpenLink("fake", 38400), SESSION_E_SPEED);
  EXPECT_FALSE(port->isOpen);

  probe->speed = 9600;
  probe->answerSpeed = 0;
  probe->moveToNamedSpeed = false;  // names 38400 but stays at 9600: no sync at 38400
  EXPECT_EQ(link->OpenLink("fake", 38400), SESSION_E_SPEED);
  EXPECT_FALSE(link->IsOpen());
}

TEST_F(LinkSession, NamedSpeedZeroIsRefusedWithoutAskingThePort) {
  // FakeProbe names the asked speed for 0, so this probe answers by hand (at 9600 only).
  port->onWrite = [&](const Bytes& written) {
    if (port->lineSpeed != 9600) return;
    for (const Bytes& payload : test::WirePayloads(written)) {
      if (payload.size() == 3) probe->Send({0x00, 0x01, 0x01});
      if (payload.size() == 7) probe->Send({0x00, 0x05, 0x03, 0, 0, 0, 0});
    }
  };
  EXPECT_EQ(link->OpenLink("fake", 38400), SESSION_E_SPEED);
  EXPECT_EQ(port->speedRequests, (std::vector<uint32_t>{115200, 38400, 9600}));
}

TEST_F(LinkSession, PortThatCannotBeOpenedSendsNothing) {
  port->openResult = PortStatus::OpenFailed;
  EXPECT_EQ(link->OpenLink("fake", 9600), LINK_E_PORT);
  EXPECT_TRUE(port->writes.empty());
  EXPECT_FALSE(link->IsOpen());
}

TEST_F(LinkSession, OpeningAnOpenLinkClosesItFirst) {
  OpenAt(9600);
  ASSERT_EQ(link->OpenLink("fake", 9600), RESULT_OK);
  EXPECT_EQ(port->opens, 2);
  EXPECT_EQ(port->closes, 1);
  EXPECT_TRUE(link->IsOpen());
}

TEST_F(LinkSession, CloseLinkIsHarmlessAtAnyTime) {
  link->CloseLink();
  EXPECT_EQ(port->closes, 0);
  OpenAt(9600);
  link->CloseLink();
  link->CloseLink();
  EXPECT_EQ(port->closes, 1);
  EXPECT_FALSE(link->IsOpen());
}

TEST_F(LinkSession, TransactOnClosedLinkSendsNothing) {
  uint8_t request[1] = {100};
  uint8_t reply[16];
  EXPECT_EQ(link->Transact(request, 1, reply, sizeof reply, 0), SESSION_E_CLOSED);
  EXPECT_TRUE(port->writes.empty());
}

TEST_F(LinkSession, SequenceNumbersCycleThroughFourValues) {
  OpenAt(115200);
  Bytes request(300, 0x55);  // length 0x12C: high bits 1 in header byte 0
  Bytes reply(16);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(link->Transact(request.data(), request.size(), reply.data(), reply.size(), 0), 1);
  }
  ASSERT_EQ(probe->received.size(), 5u);
  const uint8_t expected[5] = {0x11, 0x51, 0x91, 0xD1, 0x11};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(probe->received[i][0], expected[i]) << i;
    EXPECT_EQ(probe->received[i][1], 0x2C);
  }
  EXPECT_EQ(link->Counter(), 5);
}

TEST_F(LinkSession, RequestBytesTravelBehindTheHeader) {
  OpenAt(115200);
  const Bytes request = {0x65, 0x01, 0x00, 0x80, 0x00, 0x00, 0x68};
  Bytes reply(16);
  probe->loader = [](const Bytes&) { return Bytes{0x65, 0x10, 0x02}; };
  ASSERT_EQ(link->Transact(request.data(), request.size(), reply.data(), reply.size(), 10), 3);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 3), (Bytes{0x65, 0x10, 0x02}));
  ASSERT_EQ(port->writes.size(), 1u);
  Bytes payload(request);
  payload.insert(payload.begin(), {0x10, 0x07});
  EXPECT_EQ(port->writes[0], test::WireFrame(payload));
}

TEST_F(LinkSession, TooLongRequestIsRefusedWithNothingSentAndCounterKept) {
  OpenAt(115200);
  Bytes request(1499, 0x41);
  Bytes reply(16);
  EXPECT_EQ(link->Transact(request.data(), 1499, reply.data(), reply.size(), 0),
            SESSION_E_TOO_LONG);
  EXPECT_TRUE(port->writes.empty());
  EXPECT_EQ(link->Counter(), 0);

  EXPECT_EQ(link->Transact(request.data(), 1498, reply.data(), reply.size(), 0), 1);
  ASSERT_EQ(probe->received.size(), 1u);
  EXPECT_EQ(probe->received[0].size(), 1500u);
  EXPECT_EQ(probe->received[0][0], 0x15);  // 1498 = 0x5DA
  EXPECT_EQ(probe->received[0][1], 0xDA);
}

TEST_F(LinkSession, ReplyOfWrongLengthIsResentWithTheSameHeader) {
  OpenAt(115200);
  int calls = 0;
  probe->loader = [&](const Bytes& request) -> std::optional<Bytes> {
    if (++calls == 1) {
      probe->Send({0x10, 0x05, 0x64});  // header says 5, one byte follows
      return std::nullopt;
    }
    return Bytes{request[0], 0x00};
  };
  uint8_t request[1] = {0x64};
  Bytes reply(16);
  EXPECT_EQ(link->Transact(request, 1, reply.data(), reply.size(), 0), 2);
  ASSERT_EQ(port->writes.size(), 2u);
  EXPECT_EQ(port->writes[0], port->writes[1]);
  EXPECT_EQ(port->purges, 2);
  EXPECT_EQ(link->Counter(), 1);
}

TEST_F(LinkSession, ThreeSpentAttemptsGiveNoReply) {
  OpenAt(115200);
  probe->loader = [&](const Bytes&) -> std::optional<Bytes> {
    probe->Send({});  // an empty frame is no reply
    return std::nullopt;
  };
  uint8_t request[1] = {0x64};
  Bytes reply(16);
  EXPECT_EQ(link->Transact(request, 1, reply.data(), reply.size(), 0), SESSION_E_NO_REPLY);
  EXPECT_EQ(port->writes.size(), 3u);
  EXPECT_TRUE(link->IsOpen());
  EXPECT_EQ(link->Counter(), 1);
}

TEST_F(LinkSession, FailedSendSpendsAnAttempt) {
  OpenAt(115200);
  port->failNextWrites = 2;
  uint8_t request[1] = {0x71};
  Bytes reply(16);
  EXPECT_EQ(link->Transact(request, 1, reply.data(), reply.size(), 0), 1);
  EXPECT_EQ(port->purges, 3);
  port->failNextWrites = 3;
  EXPECT_EQ(link->Transact(request, 1, reply.data(), reply.size(), 0), SESSION_E_NO_REPLY);
}

TEST_F(LinkSession, StaleInputIsPurgedBeforeTheRequest) {
  OpenAt(115200);
  port->Feed(test::WireFrame({0x10, 0x02, 0x99, 0x99}));  // a late reply of an older request
  uint8_t request[1] = {0x64};
  Bytes reply(16);
  EXPECT_EQ(link->Transact(request, 1, reply.data(), reply.size(), 0), 1);
  EXPECT_EQ(reply[0], 0x64);
}

TEST_F(LinkSession, ReplyHeaderBitsOtherThanTheLengthAreNotCompared) {
  OpenAt(115200);
  probe->loader = [&](const Bytes&) -> std::optional<Bytes> {
    probe->Send({0xC0, 0x01, 0x42});  // sequence 3, channel bit clear
    return std::nullopt;
  };
  uint8_t request[1] = {0x64};
  Bytes reply(16);
  EXPECT_EQ(link->Transact(request, 1, reply.data(), reply.size(), 0), 1);
  EXPECT_EQ(reply[0], 0x42);
}

TEST_F(LinkSession, HeaderOnlyReplyIsValidAndOversizedReplyIsRefusedAtOnce) {
  OpenAt(115200);
  probe->loader = [](const Bytes&) { return Bytes{}; };
  uint8_t request[1] = {0x69};
  Bytes reply(4);
  EXPECT_EQ(link->Transact(request, 1, reply.data(), reply.size(), 0), 0);

  probe->loader = [](const Bytes&) { return Bytes(5, 0x33); };
  port->writes.clear();
  EXPECT_EQ(link->Transact(request, 1, reply.data(), reply.size(), 0), SESSION_E_REPLY_TOO_LONG);
  EXPECT_EQ(port->writes.size(), 1u);  // no further attempt
}

TEST_F(LinkSession, ReplyTimeOutFollowsLineSpeedAndCommand) {
  struct Case {
    uint32_t speed;
    size_t count;
    uint32_t extra;
    uint32_t timeout;
  };
  const Case cases[] = {{9600, 1, 1000, 2765}, {115200, 7, 10, 340}, {38400, 1498, 0, 981}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.speed);
    OpenAt(c.speed);
    probe->loader = [](const Bytes&) { return std::nullopt; };
    port->readTimeouts.clear();
    Bytes request(c.count, 0x64);
    Bytes reply(16);
    const uint32_t start = clock.now;
    EXPECT_EQ(link->Transact(request.data(), c.count, reply.data(), reply.size(), c.extra),
              SESSION_E_NO_REPLY);
    EXPECT_EQ(port->readTimeouts, (std::vector<uint32_t>(3, c.timeout)));
    EXPECT_EQ(clock.now - start, 3 * (c.timeout + 1));
    probe->loader = nullptr;
  }
}

TEST_F(LinkSession, SingleAttemptWaitsForTheReplyItExpectsNotTheLargestFrame) {
  OpenAt(115200);
  probe->loader = [](const Bytes&) { return std::nullopt; };
  port->readTimeouts.clear();
  // A read of 1024 bytes: 14 request bytes framed, 1031 reply bytes framed with room for doubled
  // DLEs (1054), 93 ms on the line; then the probe's 10 ms and 20 ms for the host.
  const Bytes request = {0x65, 0x01, 0x04, 0x00, 0x00, 0x04, 0x00};
  Bytes reply(1100);
  EXPECT_EQ(
      link->TransactOnce(request.data(), request.size(), reply.data(), reply.size(), 1031, 10),
      SESSION_E_NO_REPLY);
  EXPECT_EQ(port->readTimeouts, (std::vector<uint32_t>{93 + 10 + 20}));

  probe->loader = nullptr;  // the echo: one attempt that gets its reply
  port->writes.clear();
  EXPECT_EQ(link->TransactOnce(request.data(), 1, reply.data(), reply.size(), 1, 10), 1);
  // The identify that marks where the lost piece's late replies end, then one attempt.
  EXPECT_EQ(port->writes.size(), 2u);
}

// A lost piece is mostly a request the line changed and the probe dropped: an identify request
// marks where the replies still owed end, so the next piece need not wait the whole window.
TEST_F(LinkSession, AfterALostPieceAnIdentifyMarksWhereTheLateRepliesEnd) {
  OpenAt(115200);
  const Bytes piece = {0x65, 0x01, 0x04, 0x00, 0x00, 0x00, 0x10};
  Bytes reply(64);
  bool dropFirst = true;  // the piece's first request is lost
  bool answerMarker = true;
  probe->loader = [&](const Bytes& request) -> std::optional<Bytes> {
    if (request[0] == 0x64)
      return answerMarker ? std::optional<Bytes>(Bytes{0x64, 0x00}) : std::nullopt;
    if (std::exchange(dropFirst, false)) return std::nullopt;
    return Bytes{0x65, 0x00, request[4]};
  };
  const auto lose = [&] {
    dropFirst = true;
    ASSERT_EQ(link->TransactOnce(piece.data(), piece.size(), reply.data(), reply.size(), 3, 5),
              SESSION_E_NO_REPLY);
    port->writes.clear();
  };

  // Nothing owed comes: the marker's reply ends the wait after its own round trip.
  lose();
  uint32_t start = clock.now;
  ASSERT_EQ(link->TransactOnce(piece.data(), piece.size(), reply.data(), reply.size(), 3, 5), 3);
  EXPECT_LT(clock.now - start, 10u);
  ASSERT_EQ(port->writes.size(), 2u);
  EXPECT_EQ(test::WirePayloads(port->writes[0]).at(0).at(2), 0x64);
  EXPECT_EQ(test::WirePayloads(port->writes[1]).at(0).at(2), 0x65);

  // A slow probe's late reply comes before the marker's and is dropped, not taken for the next.
  lose();
  port->FeedAt(clock.now + 3, test::WireFrame({0x10, 0x03, 0x65, 0x00, 0x99}));
  probe->replyDelayMs = 8;
  ASSERT_EQ(link->TransactOnce(piece.data(), piece.size(), reply.data(), reply.size(), 3, 5), 3);
  EXPECT_EQ(reply[2], 0x00);
  probe->replyDelayMs = 1;

  // The marker lost as well: the window ends the wait, as without it.
  lose();
  answerMarker = false;
  start = clock.now;
  ASSERT_EQ(link->TransactOnce(piece.data(), piece.size(), reply.data(), reply.size(), 3, 5), 3);
  EXPECT_GT(clock.now - start, 30u);
}

TEST_F(LinkSession, LateReplyWithinTheTimeOutIsTaken) {
  OpenAt(9600);
  probe->replyDelayMs = 2765;  // the whole T of a 1-byte request with extra 1000 at 9600
  uint8_t request[1] = {0x64};
  Bytes reply(16);
  EXPECT_EQ(link->Transact(request, 1, reply.data(), reply.size(), 1000), 1);
  EXPECT_EQ(port->writes.size(), 1u);
}

struct CountingObserver : LinkObserver {
  void FrameSent(const uint8_t*, size_t) override { ++sent; }
  void FrameReceived(const uint8_t*, int32_t result) override { received.push_back(result); }
  void SpeedChanged(uint32_t speed, ResultCode result) override {
    speeds.push_back({speed, result});
  }
  void InputPurged() override { ++purges; }
  int sent = 0;
  int purges = 0;
  std::vector<int32_t> received;
  std::vector<std::pair<uint32_t, ResultCode>> speeds;
};

TEST_F(LinkSession, ObserverSeesFramesSpeedChangesAndPurges) {
  CountingObserver observer;
  link->SetObserver(&observer);
  port->refusedSpeeds = {115200};
  ASSERT_EQ(link->OpenLink("fake", 9600), RESULT_OK);
  EXPECT_EQ(observer.speeds,
            (std::vector<std::pair<uint32_t, ResultCode>>{{115200, LINK_E_PORT}, {9600, 0}}));
  EXPECT_EQ(observer.sent, 1);
  EXPECT_EQ(observer.received, std::vector<int32_t>{3});

  uint8_t request[1] = {0x64};
  Bytes reply(16);
  ASSERT_EQ(link->Transact(request, 1, reply.data(), reply.size(), 0), 1);
  EXPECT_EQ(observer.purges, 1);
  EXPECT_EQ(observer.sent, 2);
  EXPECT_EQ(observer.received, (std::vector<int32_t>{3, 3}));
  link->SetObserver(nullptr);
}

}  // namespace
}  // namespace vanta
