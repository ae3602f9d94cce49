// The virtual probe over its real pseudo-terminal, driven with hand-built frames.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
  auto start = std::chrono::steady_clock::now();
  line_->Send(Request(0, {100}));
  ASSERT_TRUE(line_->Receive());
  auto elapsed = std::chrono::steady_clock::now() - start;
  Counters c = probe_->GetCounters();
  auto wire = std::chrono::microseconds((c.bytesIn + c.bytesOut) * 10'000'000 / 9600);
  EXPECT_EQ(c.wireNanos, (c.bytesIn + c.bytesOut) * (10'000'000'000 / 9600));
  EXPECT_GE(elapsed, wire - 1ms);
  EXPECT_LT(elapsed, wire + 100ms);

  // A long reply at a high speed keeps to the schedule instead of drifting with every byte.
  probe_->ResetCounters();
  line_->Send({0x00, 0x05, 0x03, 0x00, 0x01, 0xC2, 0x00});
  ASSERT_TRUE(line_->Receive());
  std::this_thread::sleep_for(20ms);
  line_->SetSpeed(115200);
  probe_->ResetCounters();
  start = std::chrono::steady_clock::now();
  line_->Send(Request(1, {101, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00}));
  const auto reply = line_->Receive();
  elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->size(), 2u + 7u + 1024u);
  c = probe_->GetCounters();
  wire = std::chrono::microseconds((c.bytesIn + c.bytesOut) * 10'000'000 / 115200);
  EXPECT_EQ(c.wireNanos, (c.bytesIn + c.bytesOut) * (10'000'000'000 / 115200))
      << "counted at the speed the bytes went at";
  EXPECT_GE(elapsed, wire - 1ms);
  EXPECT_LT(elapsed, wire + 100ms);
}

// ---- the loader over the line ----------------------------------------------------------------

class SimLoaderLineTest : public SimLineTest {
 protected:
  // One loader transaction with a fresh sequence number; the reply behind its header.
  Bytes Exchange(const Bytes& command, int quietMs = 300) {
    const uint8_t sequence = sequence_++ & 3;
    line_->Send(Request(sequence, command));
    const auto reply = line_->Receive(quietMs);
    if (!reply || reply->size() < 2) return {0xEE, 0xEE, 0xEE};  // matches no real reply
    EXPECT_EQ((*reply)[0] >> 6, sequence);
    EXPECT_EQ((*reply)[0] & 0x38, 0x10);
    EXPECT_EQ(HeaderLength(*reply), reply->size() - 2);
    return Bytes(reply->begin() + 2, reply->end());
  }
  uint8_t sequence_ = 0;
};

TEST_F(SimLoaderLineTest, EveryCommandHasItsReplyLayout) {
  ProbeOptions options;
  options.serialNumber = "ZX9876QW";
  options.loaderVersion = 0x0305;
  StartProbe(options);
  probe_->InstallFirmwareVersion(4);
  probe_->InstallLogicVersion(21);

  EXPECT_NE(Exchange({114})[0], 'r');
  Bytes id = Exchange({100});
  ASSERT_EQ(id.size(), 15u);
  EXPECT_EQ(id, (Bytes{'d', 0x03, 0x05, 0x16, 0x04, 0x23, 0x3D, 'Z', 'X', '9', '8', '7', '6', 'Q',
                       'W'}));  // 0x233D = 9021

  EXPECT_EQ(Exchange({103, 0x01, 0x00, 0x80, 0x00}), (Bytes{'g', 0}));
  EXPECT_EQ(Exchange({103, 0x01, 0x00, 0x00, 0x00}), (Bytes{'g', 1}));  // the loader's own
  // A 1024-byte write: the request's length needs the header's high bits.
  Bytes program = {104, 0x01, 0x00, 0x80, 0x00, 0x04, 0x00};
  for (int i = 0; i < 1024; ++i) program.push_back(static_cast<uint8_t>(i * 7));
  const Bytes programmed = Exchange(program);
  ASSERT_EQ(programmed.size(), 6u);
  EXPECT_EQ(programmed[0], 'h');
  EXPECT_EQ(programmed[1], 0);
  const Bytes read = Exchange({101, 0x01, 0x00, 0x80, 0x00, 0x04, 0x00});
  ASSERT_EQ(read.size(), 1024u + 7u);
  EXPECT_EQ(read[0], 'e');
  EXPECT_EQ(Bytes(read.begin() + 7, read.end()), Bytes(program.begin() + 7, program.end()));
  EXPECT_EQ(probe_->ReadFlash(0x01008000, 1024), Bytes(program.begin() + 7, program.end()));
  EXPECT_EQ(Exchange({101, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00}).size(), 7u);

  EXPECT_FALSE(Exchange({105, 1}).empty());
  EXPECT_EQ(Exchange({106})[1], 19);
  EXPECT_FALSE(Exchange({112}).empty());
  Bytes row = {108, 133};
  row.resize(242, '0');
  EXPECT_FALSE(Exchange(row).empty());
  const Bytes rowRead = Exchange({107, 133});
  ASSERT_EQ(rowRead.size(), 481u);
  EXPECT_EQ(Bytes(rowRead.begin() + 1, rowRead.end()), Bytes(480, '0'));
  Bytes ues = {110};
  for (char c : std::string(120, '0')) ues.push_back(static_cast<uint8_t>(c));
  EXPECT_FALSE(Exchange(ues).empty());
  const Bytes uesRead = Exchange({109});
  ASSERT_EQ(uesRead.size(), 121u);
  EXPECT_EQ(Bytes(uesRead.begin() + 1, uesRead.end()), Bytes(120, '0'));
  EXPECT_EQ(probe_->LogicRows()[133], std::string(240, '0'));
  EXPECT_EQ(probe_->StoredLogicVersion(), 0);
  EXPECT_FALSE(Exchange({105, 0}).empty());

  EXPECT_EQ(probe_->CommandLog(),
            (Bytes{114, 100, 103, 103, 104, 101, 101, 105, 106, 112, 108, 107, 110, 109, 105}));
}

TEST_F(SimLoaderLineTest, FirmwareAnswersRAndRestartsTheLoaderAtItsStartSpeed) {
  StartProbe();
  line_->Send(SetSpeedPayload(57600));
  ASSERT_TRUE(line_->Receive());
  std::this_thread::sleep_for(30ms);
  line_->SetSpeed(57600);
  EXPECT_FALSE(Exchange({113}).empty());
  EXPECT_TRUE(probe_->InFirmwareMode());
  EXPECT_EQ(Exchange({114}), Bytes{'r'});
  std::this_thread::sleep_for(30ms);
  EXPECT_FALSE(probe_->InFirmwareMode());
  EXPECT_EQ(probe_->LineSpeed(), 9600u);
  line_->SetSpeed(9600);
  EXPECT_EQ(Exchange({100})[0], 'd');
}

TEST_F(SimLoaderLineTest, BusyTimeDelaysTheReply) {
  StartProbe();
  probe_->Faults().eraseSectorBusyMs = 200;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange({103, 0x01, 0x04, 0x00, 0x00}, 500), (Bytes{'g', 0}));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
  EXPECT_EQ(probe_->GetCounters().busyMicros, 200'000u);
}

TEST_F(SimLoaderLineTest, LoaderFaultsReachTheLine) {
  StartProbe();
  probe_->Faults().failEraseSector = 0x01040000;
  probe_->Faults().wrongLengthCommand = 100;
  probe_->Faults().wrongEchoCommand = 101;
  probe_->Faults().failLogicRow = 3;
  EXPECT_EQ(Exchange({103, 0x01, 0x04, 0x00, 0x00}), (Bytes{'g', 1}));
  EXPECT_EQ(Exchange({100}).size(), 16u);
  const Bytes read = Exchange({101, 0x01, 0x00, 0x80, 0x00, 0x00, 0x01});
  ASSERT_EQ(read.size(), 8u);
  EXPECT_NE(read[0], 'e');
  Bytes row = {108, 3};
  row.resize(242, '1');
  line_->Send(Request(0, row));
  EXPECT_FALSE(line_->Receive(200));
}

TEST_F(SimLoaderLineTest, ReopenedLineAndFlashFileSurvive) {
  const std::string flashFile =
      ::testing::TempDir() + "sim_flash_" + std::to_string(getpid()) + ".bin";
  std::remove(flashFile.c_str());
  ProbeOptions options;
  options.flashFile = flashFile;
  StartProbe(options);
  EXPECT_EQ(Exchange({104, 0x01, 0x0C, 0x00, 0x00, 0x00, 0x02, 0x12, 0x34})[1], 0);
  // The tool closes its port and opens it again: the probe is still there.
  line_ = std::make_unique<Line>(probe_->DevicePath());
  EXPECT_EQ(Exchange({100})[0], 'd');

  const auto stopStart = std::chrono::steady_clock::now();
  probe_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - stopStart, 200ms);
  StartProbe(options);
  EXPECT_EQ(probe_->ReadFlash(0x010C0000, 3), (Bytes{0x12, 0x34, 0xFF}));
  probe_.reset();

  // A file of another size is no image: the probe does not start and the file stays as it was.
  ASSERT_EQ(truncate(flashFile.c_str(), 1000), 0);
  VirtualProbe refusing(options);
  EXPECT_FALSE(refusing.Start());
  refusing.Stop();
  struct stat info {};
  ASSERT_EQ(stat(flashFile.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 1000);
  std::remove(flashFile.c_str());
}

// ---- the vanta7-sim program ------------------------------------------------------------------

// Runs vanta7-sim with args and XDG_CONFIG_HOME=configHome; its stdout comes through outFd.
pid_t SpawnSim(const std::vector<std::string>& args, const std::string& configHome, int& outFd) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
    setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    const std::string program = std::string(VANTA_BINARY_DIR) + "/sim/vanta7-sim";
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  outFd = pipeFds[0];
  return pid;
}

TEST(SimProgram, NamesItsPtyComNAndRemovesTheLinkWhenStopped) {
  char configTemplate[] = "/tmp/vanta_sim_config_XXXXXX";
  ASSERT_NE(mkdtemp(configTemplate), nullptr);
  const std::string configHome = configTemplate;
  int out = -1;
  const pid_t pid = SpawnSim({"--com", "7", "--serial", "AB12CD34EF", "--firmware-version", "9"},
                             configHome, out);
  ASSERT_GT(pid, 0);
  std::string device;
  char c;
  pollfd p{out, POLLIN, 0};
  while (poll(&p, 1, 5000) > 0 && read(out, &c, 1) == 1 && c != '\n') device.push_back(c);
  ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;

  const std::string link = configHome + "/Norvane/ports/COM7";
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(device, target);

  {
    Line line(link);  // the tool opens it by its COMn link
    ASSERT_TRUE(line.IsOpen());
    line.Send(Request(0, {100}));
    const auto reply = line.Receive(1000);
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), 2u + 17u);
    EXPECT_EQ((*reply)[5], 0x16);
    EXPECT_EQ((*reply)[6], 9);
  }

  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(access(link.c_str(), F_OK), 0);
  close(out);
  rmdir((configHome + "/Norvane/ports").c_str());
  rmdir((configHome + "/Norvane").c_str());
  rmdir(configHome.c_str());
}

}  // namespace
}  // namespace vanta::sim
