#include "tests/support/fake_port.h"

#include <algorithm>

namespace vanta::test {

void FakeClock::Sleep(uint32_t ms) {
  const uint32_t step = sleepGrain != 0 ? std::min(ms, sleepGrain) : ms;
  now += step;
  slept += step;
}

void FakePort::FeedAt(uint32_t tick, const Bytes& bytes, uint32_t gapMs) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    incoming_.push_back({tick + static_cast<uint32_t>(i) * gapMs, bytes[i]});
  }
}

PortStatus FakePort::OpenPort(const std::string& device) {
  ++opens;
  if (openResult != PortStatus::Ok) return openResult;
  isOpen = true;
  openedDevice = device;
  speed_ = 9600;
  lineSpeed = 9600;
  sendingUntil = clock_.now;
  return PortStatus::Ok;
}

PortStatus FakePort::SetPortSpeed(uint32_t bitsPerSecond) {
  speedRequests.push_back(bitsPerSecond);
  speed_ = bitsPerSecond;
  if (!isOpen || refusedSpeeds.count(bitsPerSecond) != 0 || bitsPerSecond == 0) {
    return PortStatus::SpeedRefused;
  }
  if (static_cast<int32_t>(sendingUntil - clock_.now) > 0) ++speedChangesWhileSending;
  lineSpeed = bitsPerSecond;
  return PortStatus::Ok;
}

PortStatus FakePort::DrainOutput(uint32_t timeoutMs) {
  if (hungUp) return PortStatus::Gone;
  const int32_t left = static_cast<int32_t>(sendingUntil - clock_.now);
  if (left <= 0) return PortStatus::Ok;
  if (static_cast<uint32_t>(left) > timeoutMs) {
    clock_.now += timeoutMs + 1;
    return PortStatus::TimedOut;
  }
  clock_.now = sendingUntil;
  return PortStatus::Ok;
}

void FakePort::PurgeInput() {
  ++purges;
  while (!incoming_.empty() && static_cast<int32_t>(incoming_.front().tick - clock_.now) <= 0) {
    incoming_.pop_front();
  }
}

PortStatus FakePort::ReadByte(uint8_t& byte, uint32_t timeoutMs) {
  if (!incoming_.empty()) {
    const int32_t wait = static_cast<int32_t>(incoming_.front().tick - clock_.now);
    if (wait <= 0 || static_cast<uint32_t>(wait) <= timeoutMs) {
      if (wait > 0) {
        readTimeouts.push_back(timeoutMs);
        clock_.now += static_cast<uint32_t>(wait);
      }
      byte = incoming_.front().byte;
      incoming_.pop_front();
      return PortStatus::Ok;
    }
  }
  readTimeouts.push_back(timeoutMs);
  if (hungUp) return PortStatus::Gone;
  clock_.now += timeoutMs + 1;
  return PortStatus::TimedOut;
}

PortStatus FakePort::WriteBlock(const uint8_t* data, size_t count) {
  if (!isOpen) return PortStatus::WriteFailed;
  if (failNextWrites > 0) {
    --failNextWrites;
    return PortStatus::WriteFailed;
  }
  const uint32_t from =
      static_cast<int32_t>(sendingUntil - clock_.now) > 0 ? sendingUntil : clock_.now;
  sendingUntil = from + static_cast<uint32_t>(count) * transmitMsPerByte;
  Bytes written(data, data + count);
  writes.push_back(written);
  if (onWrite) onWrite(written);
  return PortStatus::Ok;
}

void FakePort::ClosePort() {
  if (isOpen) ++closes;
  isOpen = false;
}

Bytes WireFrame(const Bytes& payload) {
  Bytes frame = {0x10, 0x02};
  uint8_t check = 0;
  for (uint8_t byte : payload) {
    frame.push_back(byte);
    if (byte == 0x10) frame.push_back(0x10);
    check ^= byte;
  }
  frame.push_back(0x10);
  frame.push_back(0x03);
  frame.push_back(check);
  if (check == 0x10) frame.push_back(0x10);
  return frame;
}

std::vector<Bytes> WirePayloads(const Bytes& bytes) {
  std::vector<Bytes> payloads;
  size_t i = 0;
  while (i + 1 < bytes.size()) {
    if (bytes[i] != 0x10 || bytes[i + 1] != 0x02) {
      i += bytes[i] == 0x10 ? 2 : 1;
      continue;
    }
    i += 2;
    Bytes payload;
    uint8_t check = 0;
    bool ended = false;
    while (i < bytes.size()) {
      uint8_t byte = bytes[i++];
      if (byte == 0x10) {
        if (i >= bytes.size()) break;
        byte = bytes[i++];
        if (byte == 0x03) {
          ended = true;
          break;
        }
        if (byte != 0x10) break;
      }
      payload.push_back(byte);
      check ^= byte;
    }
    if (!ended || i >= bytes.size()) continue;
    uint8_t received = bytes[i++];
    if (received == 0x10) {
      if (i >= bytes.size() || bytes[i] != 0x10) continue;
      ++i;
    }
    if (received == check) payloads.push_back(payload);
  }
  return payloads;
}

FakeProbe::FakeProbe(FakePort& port, FakeClock& clock, uint32_t startSpeed)
    : speed(startSpeed), port_(port), clock_(clock) {
  port_.onWrite = [this](const Bytes& written) { OnWrite(written); };
}

void FakeProbe::Send(const Bytes& payload) {
  port_.FeedAt(clock_.now + replyDelayMs, WireFrame(payload));
}

void FakeProbe::OnWrite(const Bytes& written) {
  if (port_.lineSpeed != speed) return;  // garbled at the wrong speed
  for (const Bytes& payload : WirePayloads(written)) {
    received.push_back(payload);
    if (payload.size() < 2) continue;
    const Bytes body(payload.begin() + 2, payload.end());
    if ((payload[0] & 0x10) == 0) {
      if (body.size() == 1 && body[0] == 0x01) {
        ++syncs;
        Send({0x00, 0x01, 0x01});
      } else if (body.size() == 5 && body[0] == 0x03) {
        ++setSpeeds;
        const uint32_t asked = (uint32_t{body[1]} << 24) | (uint32_t{body[2]} << 16) |
                               (uint32_t{body[3]} << 8) | body[4];
        const uint32_t next = answerSpeed != 0 ? answerSpeed : asked;
        Bytes answer = {0x00,
                        0x05,
                        0x03,
                        static_cast<uint8_t>(next >> 24),
                        static_cast<uint8_t>(next >> 16),
                        static_cast<uint8_t>(next >> 8),
                        static_cast<uint8_t>(next)};
        answer.resize(setSpeedReplyLength, 0);
        Send(answer);
        if (moveToNamedSpeed) speed = next;
      }
      continue;
    }
    std::optional<Bytes> reply =
        loader ? loader(body) : std::optional<Bytes>(body.empty() ? Bytes{} : Bytes{body[0]});
    if (!reply) continue;
    Bytes answer = {static_cast<uint8_t>((payload[0] & 0xF0) | ((reply->size() >> 8) & 0x07)),
                    static_cast<uint8_t>(reply->size())};
    answer.insert(answer.end(), reply->begin(), reply->end());
    Send(answer);
  }
}

}  // namespace vanta::test
