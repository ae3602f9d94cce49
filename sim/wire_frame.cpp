#include "sim/wire_frame.h"

namespace vanta::sim {

std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> frame;
  frame.reserve(payload.size() * 2 + 6);
  frame.push_back(kDle);
  frame.push_back(kStx);
  uint8_t check = 0;
  for (uint8_t b : payload) {
    check ^= b;
    frame.push_back(b);
    if (b == kDle) frame.push_back(b);
  }
  frame.push_back(kDle);
  frame.push_back(kEtx);
  frame.push_back(check);
  if (check == kDle) frame.push_back(check);
  return frame;
}

void FrameDecoder::Reset() {
  state_ = State::kHunt;
  payload_.clear();
  check_ = 0;
}

FrameDecoder::Event FrameDecoder::Push(uint8_t byte) {
  switch (state_) {
    case State::kHunt:
      if (byte == kDle) state_ = State::kHuntDle;
      return Event::kNone;
    case State::kHuntDle:
      // The byte behind a DLE is its partner: only STX opens a frame, and a second DLE (a
      // stuffed payload byte seen mid-frame) does not count as a new DLE.
      if (byte == kStx) {
        payload_.clear();
        check_ = 0;
        state_ = State::kPayload;
      } else {
        state_ = State::kHunt;
      }
      return Event::kNone;
    case State::kPayload:
      if (byte == kDle) {
        state_ = State::kPayloadDle;
        return Event::kNone;
      }
      break;
    case State::kPayloadDle:
      if (byte == kEtx) {
        state_ = State::kCheck;
        return Event::kNone;
      }
      if (byte != kDle) {
        Reset();
        return Event::kBadFrame;
      }
      state_ = State::kPayload;
      break;
    case State::kCheck:
      received_check_ = byte;
      if (byte == kDle) {
        state_ = State::kCheckDle;
        return Event::kNone;
      }
      state_ = State::kHunt;
      return received_check_ == check_ ? Event::kFrame : Event::kBadFrame;
    case State::kCheckDle:
      state_ = State::kHunt;
      if (byte != kDle) return Event::kBadFrame;
      return received_check_ == check_ ? Event::kFrame : Event::kBadFrame;
  }
  // A payload byte.
  if (payload_.size() >= capacity_) {
    Reset();
    return Event::kBadFrame;
  }
  payload_.push_back(byte);
  check_ ^= byte;
  return Event::kNone;
}

}  // namespace vanta::sim
