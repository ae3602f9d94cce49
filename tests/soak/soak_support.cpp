#include "tests/soak/soak_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace vanta::soak {

FaultyPort::FaultyPort(std::unique_ptr<SerialPort> inner, uint32_t seed)
    : ForwardingPort(std::move(inner)), rng_(seed) {}

PortStatus FaultyPort::WriteBlock(const uint8_t* data, size_t count) {
  const double rate = corruptRate_;
  if (rate <= 0) return Inner().WriteBlock(data, count);
  std::vector<uint8_t> bytes(data, data + count);
  std::uniform_real_distribution<double> chance(0.0, 1.0);
  for (uint8_t& b : bytes) {
    if (chance(rng_) < rate) {
      b ^= static_cast<uint8_t>(1 + rng_() % 255);
      ++corrupted_;
    }
  }
  return Inner().WriteBlock(bytes.data(), bytes.size());
}

PortStatus FaultyPort::ReadByte(uint8_t& byte, uint32_t timeoutMs) {
  const PortStatus result = Inner().ReadByte(byte, timeoutMs);
  const uint32_t overrun = readOverrunMs_;
  if (result == PortStatus::TimedOut && overrun > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(uint64_t{timeoutMs} + overrun));
  }
  return result;
}

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void TimeoutWatch::Start(uint32_t speed) {
  std::lock_guard lock(mutex_);
  speed_ = speed != 0 ? speed : 9600;
  lastEventMs_ = NowMs();
  allowanceMs_ = kGapMs;
  worstOverrunMs_ = 0;
}

void TimeoutWatch::Event(int64_t nextAllowanceMs) {
  const int64_t now = NowMs();
  worstOverrunMs_ = std::max(worstOverrunMs_, now - (lastEventMs_ + allowanceMs_));
  lastEventMs_ = now;
  allowanceMs_ = nextAllowanceMs;
}

void TimeoutWatch::Finish() {
  std::lock_guard lock(mutex_);
  Event(kGapMs);
}

int64_t TimeoutWatch::OverdueMs() const {
  std::lock_guard lock(mutex_);
  return NowMs() - (lastEventMs_ + allowanceMs_);
}

int64_t TimeoutWatch::WorstOverrunMs() const {
  std::lock_guard lock(mutex_);
  return worstOverrunMs_;
}

uint32_t TimeoutWatch::CommandExtraMs(uint8_t code) {
  switch (code) {
    case 100:  // identify
      return 1000;
    case 101:  // read memory
    case 114:  // enter loader
      return 10;
    case 103:  // erase sector
      return 10000;
    case 104:  // program
      return 1000;
    case 108:  // logic program row
    case 110:  // logic program UES
      return 300;
    case 112:  // logic erase
      return 600;
    case 113:  // start firmware
      return 200;
    default:  // logic access, device type, read row, read UES
      return 100;
  }
}

int64_t TimeoutWatch::AttemptAllowanceMs(const uint8_t* payload, size_t count, uint32_t speed) {
  constexpr int64_t kControlReplyMs = 200;
  int64_t timeoutMs = kControlReplyMs;
  if (count >= 3 && (payload[0] & 0x10) != 0) {
    const uint64_t requestBytes = count - 2;
    timeoutMs = static_cast<int64_t>((requestBytes + 1502) * 10000 / speed) +
                CommandExtraMs(payload[2]) + 200;
  }
  return 2 * timeoutMs;
}

void TimeoutWatch::FrameSent(const uint8_t* payload, size_t count) {
  std::lock_guard lock(mutex_);
  Event(AttemptAllowanceMs(payload, count, speed_));
  if (trace_) {
    std::fprintf(stderr, "sent %zu bytes, command %u, allowed %lld ms\n", count,
                 count >= 3 ? payload[2] : 0u, static_cast<long long>(allowanceMs_));
  }
}

void TimeoutWatch::FrameReceived(const uint8_t* payload, int32_t result) {
  std::lock_guard lock(mutex_);
  Event(kGapMs);
  if (!trace_) return;
  if (result < 0) {
    std::fprintf(stderr, "  received: result %d\n", result);
  } else {
    std::fprintf(stderr, "  received %d bytes:", result);
    for (int32_t i = 0; i < result && i < 24; ++i) std::fprintf(stderr, " %02X", payload[i]);
    std::fprintf(stderr, result > 24 ? " ...\n" : "\n");
  }
}

void TimeoutWatch::SpeedChanged(uint32_t bitsPerSecond, ResultCode result) {
  std::lock_guard lock(mutex_);
  // The port reports the speed asked for even when the driver refused it.
  if (bitsPerSecond != 0) speed_ = bitsPerSecond;
  Event(kGapMs);
  if (trace_) std::fprintf(stderr, "speed %u: %d\n", bitsPerSecond, result);
}

void TimeoutWatch::LateReplyAwaited(uint32_t windowMs) {
  std::lock_guard lock(mutex_);
  // The wait for a late reply is one receive with windowMs for each byte: the hunt, then one
  // more wait for a byte lost inside the frame, as for a reply.
  Event(2 * static_cast<int64_t>(windowMs));
  if (trace_) std::fprintf(stderr, "  awaiting a late reply, allowed %u ms\n", windowMs);
}

void TimeoutWatch::InputPurged() {
  std::lock_guard lock(mutex_);
  Event(kGapMs);
}

namespace {

uint32_t Quad(const std::string& text) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4) return 0xFFFFFFFF;
  return (a << 24) | (b << 16) | (c << 8) | d;
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

std::vector<uint8_t> ExpectedSetupBlock(const std::string& serial, const SetupTexts& texts) {
  std::vector<uint8_t> block = {0x0A, 0x4F, 0x19};
  for (size_t k = 0; k < 3; ++k) {
    const unsigned high = static_cast<uint8_t>(serial[2 * k]) - 0x30u;
    const unsigned low = static_cast<uint8_t>(serial[2 * k + 1]) - 0x30u;
    block.push_back(static_cast<uint8_t>(16 * high + low));
  }
  block.push_back(0xFF);
  block.push_back(0xFF);
  PutBigEndian(block, Quad(texts.probeIpText));
  PutBigEndian(block, Quad(texts.subnetMaskText));
  PutBigEndian(block, Quad(texts.gatewayText));
  PutBigEndian(block, Quad(texts.configHostText));
  block.insert(block.end(), texts.configFileText.begin(),
               texts.configFileText.begin() +
                   static_cast<long>(std::min<size_t>(texts.configFileText.size(), 79)));
  block.resize(104, 0x00);
  return block;
}

std::vector<uint8_t> Pattern(size_t count, uint8_t seed) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + seed) % 251);
  return bytes;
}

std::string UesBits(const std::string& text) {
  std::string bits;
  for (size_t i = 0; i < 15; ++i) {
    const unsigned code = i < text.size() ? static_cast<uint8_t>(text[i]) : 0u;
    for (int bit = 7; bit >= 0; --bit) bits.push_back((code >> bit) & 1u ? '1' : '0');
  }
  return bits;
}

std::string ThreeDigits(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%03u", value % 1000);
  return text;
}

}  // namespace vanta::soak
