#pragma once
// The probe's own framing (DLE STX, stuffed payload, DLE ETX, XOR check), written apart from the
// tool's codec so that each can catch the other's mistakes.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vanta::sim {

inline constexpr uint8_t kDle = 0x10;
inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;

// The whole frame for payload: start, doubled DLEs, end, check byte (doubled when DLE).
std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& payload);

// Byte-at-a-time receiver, as the probe's serial interrupt would run it.
class FrameDecoder {
 public:
  enum class Event { kNone, kFrame, kBadFrame };

  explicit FrameDecoder(size_t capacity = 4096) : capacity_(capacity) {}

  // Takes the next line byte. kFrame: Payload() holds a frame whose check matched. kBadFrame: a
  // frame was begun and thrown away (bad escape, check mismatch, too long); hunting goes on.
  Event Push(uint8_t byte);
  const std::vector<uint8_t>& Payload() const { return payload_; }
  // Forgets a half-received frame (the line went quiet in the middle of it).
  void Reset();
  bool InFrame() const { return state_ != State::kHunt && state_ != State::kHuntDle; }

 private:
  enum class State { kHunt, kHuntDle, kPayload, kPayloadDle, kCheck, kCheckDle };
  size_t capacity_;
  State state_ = State::kHunt;
  uint8_t check_ = 0;
  uint8_t received_check_ = 0;
  std::vector<uint8_t> payload_;
};

}  // namespace vanta::sim
