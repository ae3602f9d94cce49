// The virtual probe over its real pseudo-terminal, driven with hand-built frames.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/virtual_probe.h"
#include "sim/wire_frame.h"

namespace vanta::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

const Bytes kWakeUp = {0xDB, 0xDE};
const Bytes kSyncFrame = {0x10, 0x02, 0x00, 0x01, 0x01, 0x10, 0x03, 0x00};

speed_t SpeedCode(uint32_t speed) {
  switch (speed) {
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B9600;
  }
}

// The tool's end of the line, kept deliberately plain: raw termios, poll, read.
class Line {
 public:
  explicit Line(const std::string& path, uint32_t speed = 9600) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ >= 0) SetSpeed(speed);
  }
  ~Line() {
    if (fd_ >= 0) close(fd_);
  }
  bool IsOpen() const { return fd_ >= 0; }

  void SetSpeed(uint32_t speed) {
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, SpeedCode(speed));
    cfsetospeed(&tio, SpeedCode(speed));
    tcsetattr(fd_, TCSANOW, &tio);
  }

  void Write(const Bytes& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void Send(const Bytes& payload) { Write(EncodeFrame(payload)); }

  // Next whole frame's payload, or nothing when the line stays quiet for quietMs.
  std::optional<Bytes> Receive(int quietMs = 300) {
    FrameDecoder decoder;
    for (;;) {
      uint8_t byte;
      if (!ReadByte(byte, quietMs)) return std::nullopt;
      if (decoder.Push(byte) == FrameDecoder::Event::kFrame) return decoder.Payload();
    }
  }

  // Raw bytes until the line stays quiet for quietMs.
  Bytes Drain(int quietMs = 100) {
    Bytes out;
    uint8_t byte;
    while (ReadByte(byte, quietMs)) out.push_back(byte);
    return out;
  }

  // poll's verdict on a line whose other end may be gone.
  bool HungUp(int waitMs) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return false;
    if (p.revents & (POLLHUP | POLLERR)) return true;
    uint8_t byte;
    const ssize_t n = read(fd_, &byte, 1);
    return n == 0 || (n < 0 && errno == EIO);
  }

 private:
  bool ReadByte(uint8_t& byte, int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) return false;
    return read(fd_, &byte, 1) == 1;
  }
  int fd_ = -1;
};

Bytes SetSpeedPayload(uint32_t speed) {
  return {0x00,
          0x05,
          0x03,
          static_cast<uint8_t>(speed >> 24),
          static_cast<uint8_t>(speed >> 16),
          static_cast<uint8_t>(speed >> 8),
          static_cast<uint8_t>(speed)};
}

uint32_t SpeedInReply(const Bytes& reply) {
  return (uint32_t{reply[3]} << 24) | (uint32_t{reply[4]} << 16) | (uint32_t{reply[5]} << 8) |
         reply[6];
}

// A loader request with its header: sequence in bits 7-6, channel 0x10, 11-bit length.
Bytes Request(uint8_t sequence, const Bytes& command) {
  Bytes payload(2 + command.size());
  payload[0] = static_cast<uint8_t>((sequence << 6) | 0x10 | (command.size() >> 8));
  payload[1] = static_cast<uint8_t>(command.size() & 0xFF);
  std::copy(command.begin(), command.end(), payload.begin() + 2);
  return payload;
}

size_t HeaderLength(const Bytes& reply) {
  return ((reply[0] & 0x07u) << 8) | reply[1];
}

class SimLineTest : public ::testing::Test {
 protected:
  void StartProbe(ProbeOptions options = {}) {
    probe_ = std::make_unique<VirtualProbe>(options);
    ASSERT_TRUE(probe_->Start());
    line_ = std::make_unique<Line>(probe_->DevicePath());
    ASSERT_TRUE(line_->IsOpen());
  }
  void SetUp() override {}
  std::unique_ptr<VirtualProbe> probe_;
  std::unique_ptr<Line> line_;
};

TEST_F(SimLineTest, WakeUpPairIsIgnoredAndLinkSyncGetsThreeBytes) {
  StartProbe();
  line_->Write(kWakeUp);
  line_->Write(kSyncFrame);
  const auto reply = line_->Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->size(), 3u);
  const Counters c = probe_->GetCounters();
  EXPECT_EQ(c.framesIn, 1u);
  EXPECT_EQ(c.framesOut, 1u);
  EXPECT_EQ(c.bytesIn, kWakeUp.size() + kSyncFrame.size());
  EXPECT_EQ(c.garbledBytes, 0u);
}

TEST_F(SimLineTest, SetSpeedAnswersThenMovesTheLine) {
  StartProbe();
  // The literal frame for 115200 as it appears on the wire.
  line_->Write({0x10, 0x02, 0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00, 0x10, 0x03, 0xC5});
  const auto reply = line_->Receive();
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->size(), 7u);
  EXPECT_EQ(SpeedInReply(*reply), 115200u);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(probe_->LineSpeed(), 115200u);

  // The old speed no longer reaches the probe...
  line_->Write(kSyncFrame);
  EXPECT_FALSE(line_->Receive(200));
  EXPECT_GT(probe_->GetCounters().garbledBytes, 0u);
  // ...the new one does.
  line_->SetSpeed(115200);
  std::this_thread::sleep_for(60ms);  // let the half frame of garbage go stale
  line_->Send({0x00, 0x01, 0x01});
  ASSERT_TRUE(line_->Receive());
}

TEST_F(SimLineTest, SetSpeedIsCappedAtTopSpeedOrAnsweredWithTheChosenSpeed) {
  ProbeOptions capped;
  capped.topSpeed = 57600;
  StartProbe(capped);
  line_->Send(SetSpeedPayload(115200));
  auto reply = line_->Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(SpeedInReply(*reply), 57600u);

  ProbeOptions answering;
  answering.answerSpeed = 38400;
  StartProbe(answering);
  line_->Send(SetSpeedPayload(115200));
  reply = line_->Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(SpeedInReply(*reply), 38400u);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(probe_->LineSpeed(), 38400u);
}

TEST_F(SimLineTest, SetSpeedReplyLengthKnob) {
  StartProbe();
  probe_->Faults().linkSetSpeedReplyLength = 6;
  line_->Send(SetSpeedPayload(19200));
  const auto reply = line_->Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->size(), 6u);
}

TEST_F(SimLineTest, BytesAtAnotherSpeedAreGarbledBothWays) {
  ProbeOptions options;
  options.startSpeed = 19200;
  StartProbe(options);  // the tool's line is at 9600, the probe listens at 19200
  line_->Write(kSyncFrame);
  EXPECT_FALSE(line_->Receive(200));
  EXPECT_EQ(probe_->GetCounters().garbledBytes, kSyncFrame.size());

  // Matching speeds: clean both ways.
  line_->SetSpeed(19200);
  std::this_thread::sleep_for(60ms);  // the garbage's half frame goes stale
  probe_->ResetCounters();
  line_->Write(kSyncFrame);
  ASSERT_TRUE(line_->Receive());
  EXPECT_EQ(probe_->GetCounters().garbledBytes, 0u);

  // The tool changes its speed while the probe is busy: the reply goes out mangled.
  probe_->Faults().eraseSectorBusyMs = 150;
  line_->Send(Request(0, {103, 0x01, 0x00, 0x80, 0x00}));
  std::this_thread::sleep_for(50ms);
  line_->SetSpeed(9600);
  const Bytes raw = line_->Drain(400);
  const Bytes clean = EncodeFrame(Request(0, {103, 0}));
  EXPECT_EQ(probe_->GetCounters().garbledBytes, clean.size());
  EXPECT_LT(raw.size(), clean.size() + 1);
  EXPECT_NE(raw, clean);
}

TEST_F(SimLineTest, LoaderReplyCarriesSequenceChannelAndLength) {
  ProbeOptions options;
  options.serialNumber = "AB12CD34EF";
  StartProbe(options);
  for (uint8_t sequence = 0; sequence < 4; ++sequence) {
    line_->Send(Request(sequence, {100}));
    const auto reply = line_->Receive();
    ASSERT_TRUE(reply);
    ASSERT_GE(reply->size(), 3u);
    EXPECT_EQ((*reply)[0] & 0xF8, (sequence << 6) | 0x10);
    EXPECT_EQ(HeaderLength(*reply), reply->size() - 2);
    EXPECT_EQ((*reply)[2], 'd');
    EXPECT_EQ(reply->size(), 2u + 17u);
  }
}

TEST_F(SimLineTest, RepeatedRequestResendsTheCachedReplyOrRedoesTheWork) {
  for (const bool redo : {false, true}) {
    ProbeOptions options;
    options.repeatRedoesWork = redo;
    StartProbe(options);
    probe_->Faults().eraseSectorBusyMs = 30;
    const Bytes erase = Request(1, {103, 0x01, 0x00, 0x80, 0x00});
    line_->Send(erase);
    ASSERT_TRUE(line_->Receive());
    line_->Send(erase);  // as if the reply had been lost
    ASSERT_TRUE(line_->Receive());
    const Counters c = probe_->GetCounters();
    EXPECT_EQ(c.repeatsSeen, 1u);
    EXPECT_EQ(c.busyMicros, redo ? 60'000u : 30'000u) << "redo=" << redo;
    EXPECT_EQ(probe_->CommandLog(), (Bytes{103, 103}));
    // A new sequence number is new work, not a repeat.
    line_->Send(Request(2, {103, 0x01, 0x00, 0x80, 0x00}));
    ASSERT_TRUE(line_->Receive());
    EXPECT_EQ(probe_->GetCounters().repeatsSeen, 1u);
  }
}

TEST_F(SimLineTest, SilenceKnobs) {
  StartProbe();
  probe_->Faults().silentForRequests = 2;
  line_->Send(Request(0, {100}));
  EXPECT_FALSE(line_->Receive(200));
  line_->Send(Request(1, {100}));
  EXPECT_FALSE(line_->Receive(200));
  line_->Send(Request(2, {100}));
  EXPECT_TRUE(line_->Receive());

  probe_->ClearCommandLog();
  probe_->Faults().silentFromCommand = 1;
  line_->Send(Request(3, {100}));
  EXPECT_TRUE(line_->Receive());
  line_->Send(Request(0, {100}));
  EXPECT_FALSE(line_->Receive(200));
  line_->Send({0x00, 0x01, 0x01});  // link control is not a command
  EXPECT_TRUE(line_->Receive());

  probe_->Faults().silentFromCommand = -1;
  probe_->Faults().silent = true;
  line_->Send({0x00, 0x01, 0x01});
  EXPECT_FALSE(line_->Receive(200));
}

TEST_F(SimLineTest, NoiseAndWrongHeaderLength) {
  StartProbe();
  probe_->Faults().noiseBeforeFrame = 5;
  probe_->Faults().wrongHeaderLengthOnce = 1;
  line_->Send(Request(0, {100}));
  const Bytes raw = line_->Drain();
  ASSERT_GT(raw.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_NE(raw[i], 0x10);
  EXPECT_EQ(raw[5], 0x10);
  EXPECT_EQ(raw[6], 0x02);
  FrameDecoder decoder;
  std::optional<Bytes> reply;
  for (uint8_t b : raw) {
    if (decoder.Push(b) == FrameDecoder::Event::kFrame) reply = decoder.Payload();
  }
  ASSERT_TRUE(reply);
  EXPECT_EQ(HeaderLength(*reply), reply->size() - 1);  // one more than it carries

  line_->Send(Request(1, {100}));  // only once
  reply = line_->Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(HeaderLength(*reply), reply->size() - 2);
}

TEST_F(SimLineTest, CorruptedAndDroppedBytesSpoilFrames) {
  StartProbe();
  probe_->Faults().corruptRate = 1.0;
  line_->Send({0x00, 0x01, 0x01});
  EXPECT_FALSE(line_->Receive(200));
  probe_->Faults().corruptRate = 0;
  probe_->Faults().dropRate = 1.0;
  line_->Send({0x00, 0x01, 0x01});
  EXPECT_TRUE(line_->Drain(150).empty());
  probe_->Faults().dropRate = 0;
  probe_->Faults().insertRate = 1.0;
  line_->Send({0x00, 0x01, 0x01});
  EXPECT_EQ(line_->Drain(150).size(), 2 * kSyncFrame.size());
}

TEST_F(SimLineTest, HangUpIsSeenByTheTool) {
  StartProbe();
  probe_->HangUp();
  EXPECT_TRUE(line_->HungUp(1000));
}

TEST_F(SimLineTest, HangUpAfterBytes) {
  StartProbe();
  probe_->Faults().hangUpAfterBytes = static_cast<int32_t>(kSyncFrame.size() + 2);
  line_->Write(kSyncFrame);
  EXPECT_TRUE(line_->Receive());
  EXPECT_FALSE(line_->HungUp(100));
  line_->Write(kWakeUp);
  EXPECT_TRUE(line_->HungUp(1000));
}

TEST_F(SimLineTest, PacedRepliesTakeTenBitTimesPerByte) {
  ProbeOptions options;
  options.linePacing = true;
  StartProbe(options);
  // An identify reply frame is about 22 bytes: 23 ms at 9600 bit/s each way.
  const auto start = std::chrono::steady_clock::now();
  line_->Send(Request(0, {100}));
  ASSERT_TRUE(line_->Receive());
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const Counters c = probe_->GetCounters();
  const auto wire = std::chrono::microseconds((c.bytesIn + c.bytesOut) * 10'000'000 / 9600);
  EXPECT_GE(elapsed, wire - 1ms);
  EXPECT_LT(elapsed, wire + 40ms);
}

}  // namespace
}  // namespace vanta::sim
