#include "link/frame_codec.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/fake_port.h"

namespace vanta {
namespace {

using test::Bytes;
using test::FakeClock;
using test::FakePort;

struct ExampleFrame {
  Bytes payload;
  Bytes frame;
};

const ExampleFrame kExamples[] = {
    {{0x00, 0x01, 0x01}, {0x10, 0x02, 0x00, 0x01, 0x01, 0x10, 0x03, 0x00}},
    {{0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00},
     {0x10, 0x02, 0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00, 0x10, 0x03, 0xC5}},
    {{0x10}, {0x10, 0x02, 0x10, 0x10, 0x10, 0x03, 0x10, 0x10}},
    {{}, {0x10, 0x02, 0x10, 0x03, 0x00}},
};

class FrameCodec : public ::testing::Test {
 protected:
  int32_t Receive(size_t capacity = kMaxPayload, uint32_t timeoutMs = 100) {
    received.assign(capacity, 0xEE);
    const int32_t result = ReceiveFrame(port, received.data(), capacity, timeoutMs, clock);
    if (result >= 0) received.resize(static_cast<size_t>(result));
    return result;
  }

  FakeClock clock{5000};
  FakePort port{clock};
  Bytes received;

  void SetUp() override { ASSERT_EQ(port.OpenPort("fake"), PortStatus::Ok); }
};

TEST_F(FrameCodec, ExampleFramesAreSentInOneWriteAndReceivedBack) {
  for (const ExampleFrame& example : kExamples) {
    port.writes.clear();
    ASSERT_EQ(SendFrame(port, example.payload.data(), example.payload.size()), RESULT_OK);
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(port.writes[0], example.frame);

    port.Feed(example.frame);
    EXPECT_EQ(Receive(), static_cast<int32_t>(example.payload.size()));
    EXPECT_EQ(received, example.payload);
  }
}

TEST_F(FrameCodec, SendRefusesOversizedPayloadAndPassesWriteFailureOn) {
  Bytes big(kMaxPayload + 1, 0x41);
  EXPECT_EQ(SendFrame(port, big.data(), big.size()), LINK_E_WRITE);
  EXPECT_TRUE(port.writes.empty());

  port.failNextWrites = 1;
  EXPECT_EQ(SendFrame(port, big.data(), 3), LINK_E_WRITE);
}

TEST_F(FrameCodec, LargestPayloadOfDleBytesMakesTheLargestFrame) {
  Bytes payload(kMaxPayload, 0x10);  // check byte is 0: 1500 is even
  uint8_t frame[kMaxFrame];
  EXPECT_EQ(EncodeFrame(payload.data(), payload.size(), frame), 2 + 3000 + 2 + 1u);
  payload.back() = 0x00;  // 1499 DLEs: check byte DLE, doubled
  const size_t length = EncodeFrame(payload.data(), payload.size(), frame);
  EXPECT_EQ(length, 2 + 2998 + 1 + 2 + 2u);
  EXPECT_EQ(frame[length - 1], 0x10);
  EXPECT_EQ(frame[length - 2], 0x10);
  EXPECT_EQ(frame[length - 3], 0x03);
}

struct ReceiveCase {
  const char* name;
  Bytes line;
  size_t capacity;
  int32_t result;
  Bytes payload;  // when result >= 0
};

TEST_F(FrameCodec, ReceiveEdgeCases) {
  const Bytes sync = {0x10, 0x02, 0x00, 0x01, 0x01, 0x10, 0x03, 0x00};
  auto join = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const ReceiveCase cases[] = {
      {"noise before the frame is skipped",
       join({0x41, 0x42, 0x10, 0x05}, sync),
       1500,
       3,
       {0x00, 0x01, 0x01}},
      {"DLE DLE STX opens no frame",
       {0x10, 0x10, 0x02, 0x00, 0x01, 0x01, 0x10, 0x03, 0x00},
       1500,
       LINK_E_TIMEOUT,
       {}},
      {"DLE DLE STX then a real frame",
       join({0x10, 0x10, 0x02}, sync),
       1500,
       3,
       {0x00, 0x01, 0x01}},
      {"payload of exactly the capacity", sync, 3, 3, {0x00, 0x01, 0x01}},
      {"one byte over the capacity", sync, 2, LINK_E_OVERFLOW, {}},
      {"empty frame", {0x10, 0x02, 0x10, 0x03, 0x00}, 1500, 0, {}},
      {"empty frame into no room", {0x10, 0x02, 0x10, 0x03, 0x00}, 0, 0, {}},
      {"doubled DLE payload and check",
       {0x10, 0x02, 0x10, 0x10, 0x10, 0x03, 0x10, 0x10},
       1500,
       1,
       {0x10}},
      {"DLE STX inside a frame",
       {0x10, 0x02, 0x00, 0x10, 0x02, 0x00, 0x01, 0x01, 0x10, 0x03, 0x00},
       1500,
       LINK_E_FRAME,
       {}},
      {"DLE and another byte inside a frame",
       {0x10, 0x02, 0x00, 0x10, 0x41, 0x10, 0x03, 0x00},
       1500,
       LINK_E_FRAME,
       {}},
      {"check DLE sent single, then another byte",
       {0x10, 0x02, 0x10, 0x10, 0x10, 0x03, 0x10, 0x41},
       1500,
       LINK_E_FRAME,
       {}},
      {"check DLE sent single, then silence",
       {0x10, 0x02, 0x10, 0x10, 0x10, 0x03, 0x10},
       1500,
       LINK_E_TIMEOUT,
       {}},
      {"payload byte changed on the line",
       {0x10, 0x02, 0x00, 0x01, 0x02, 0x10, 0x03, 0x00},
       1500,
       LINK_E_CHECKSUM,
       {}},
      {"wrong check byte",
       {0x10, 0x02, 0x00, 0x01, 0x01, 0x10, 0x03, 0x01},
       1500,
       LINK_E_CHECKSUM,
       {}},
      {"silent line", {}, 1500, LINK_E_TIMEOUT, {}},
      {"silence after the start", {0x10, 0x02, 0x00}, 1500, LINK_E_TIMEOUT, {}},
      {"silence before the check byte", {0x10, 0x02, 0x00, 0x10, 0x03}, 1500, LINK_E_TIMEOUT, {}},
  };
  for (const ReceiveCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakePort line(clock);
    line.Feed(c.line);
    Bytes dest(std::max<size_t>(c.capacity, 1), 0xEE);
    const int32_t result = ReceiveFrame(line, dest.data(), c.capacity, 100, clock);
    EXPECT_EQ(result, c.result) << ResultName(result);
    if (c.result >= 0 && result == c.result) {
      EXPECT_EQ(Bytes(dest.begin(), dest.begin() + result), c.payload);
    }
  }
}

TEST_F(FrameCodec, OverflowReturnsWithoutReadingTheRestOfTheFrame) {
  port.Feed({0x10, 0x02, 0x01, 0x02, 0x03, 0x04, 0x10, 0x03, 0x04});
  EXPECT_EQ(Receive(2), LINK_E_OVERFLOW);
  EXPECT_EQ(port.Pending(), 4u);  // the third payload byte was read, the rest waits
}

TEST_F(FrameCodec, SilenceMidFrameTimesOutOneTimeOutAfterTheLastByte) {
  port.Feed({0x10, 0x02, 0x00, 0x01}, 20);  // last byte at +60
  const uint32_t start = clock.now;
  EXPECT_EQ(Receive(kMaxPayload, 100), LINK_E_TIMEOUT);
  EXPECT_EQ(clock.now - start, 60u + 101u);
}

TEST_F(FrameCodec, HangUpWhileHuntingOrInsideAFrameIsCommFailure) {
  port.hungUp = true;
  EXPECT_EQ(Receive(), LINK_E_COMM);
  port.Feed({0x10, 0x02, 0x00});
  EXPECT_EQ(Receive(), LINK_E_COMM);
}

TEST_F(FrameCodec, AFrameSlowerThanTheTimeOutAsAWholeIsStillReceived) {
  // Each byte comes within the per-byte time-out; the hunt bound concerns only the start.
  port.Feed(test::WireFrame({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), 90);
  EXPECT_EQ(Receive(kMaxPayload, 100), 10);
}

// A line that never stops sending bytes that open no frame must not hold the receiver for ever.
TEST_F(FrameCodec, HuntEndsWhenNoFrameStartsWithinTheTimeOut) {
  port.Feed(Bytes(100000, 0x41), 1);
  const uint32_t start = clock.now;
  EXPECT_EQ(Receive(kMaxPayload, 200), LINK_E_TIMEOUT);
  EXPECT_GT(clock.now - start, 200u);
  EXPECT_LE(clock.now - start, 202u);
}

TEST_F(FrameCodec, HuntEndsAfterTwoLargestFramesOfBytes) {
  // Bytes arrive faster than the clock ticks: only the byte bound can end the hunt.
  Bytes noise(3 * kMaxFrame);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = i % 2 ? 0x10 : 0x41;  // DLE pairs, no STX
  port.Feed(noise);
  EXPECT_EQ(Receive(), LINK_E_TIMEOUT);
  EXPECT_EQ(port.Pending(), noise.size() - 2 * kMaxFrame);
}

TEST_F(FrameCodec, FrameStartingJustInsideTheHuntBoundsIsReceived) {
  port.Feed(Bytes(2 * kMaxFrame - 2, 0x41));
  port.Feed(test::WireFrame({0x07}));
  EXPECT_EQ(Receive(), 1);

  port.FeedAt(clock.now, Bytes(150, 0x41), 1);
  port.FeedAt(clock.now + 199, test::WireFrame({0x08}));
  EXPECT_EQ(Receive(kMaxPayload, 200), 1);
  EXPECT_EQ(received, Bytes{0x08});
}

TEST_F(FrameCodec, RandomPayloadsSurviveTheRoundTrip) {
  std::mt19937 random(7);
  uint8_t frame[kMaxFrame];
  for (int round = 0; round < 200; ++round) {
    Bytes payload(random() % (kMaxPayload + 1));
    // Many DLE, STX and ETX bytes: the ones the stuffing is about.
    for (uint8_t& byte : payload) byte = random() % 3 ? static_cast<uint8_t>(random()) : 0x10;
    const size_t length = EncodeFrame(payload.data(), payload.size(), frame);
    EXPECT_EQ(Bytes(frame, frame + length), test::WireFrame(payload));
    port.Feed(Bytes(frame, frame + length));
    ASSERT_EQ(Receive(), static_cast<int32_t>(payload.size()));
    EXPECT_EQ(received, payload);
  }
}

}  // namespace
}  // namespace vanta
