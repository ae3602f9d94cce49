// ReceiveFrame over bytes from the line: the first three input bytes choose the receive capacity,
// the per-byte time-out and whether the line hangs up or goes quiet behind the data.
#include <algorithm>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "link/frame_codec.h"

using namespace vanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t capacity = (static_cast<size_t>(data[0]) << 3) % (kMaxPayload + 1);
  const uint32_t timeoutMs = 1 + (data[1] & 0x7F) * 10u;
  const bool hangUp = (data[2] & 1) != 0;
  data += 3;
  size -= 3;

  fuzz::FuzzClock clock;
  fuzz::FuzzPort port(data, size, clock, hangUp);
  // Exactly capacity bytes, so a write past it is an AddressSanitizer report.
  std::vector<uint8_t> dest(capacity);
  const int32_t result = ReceiveFrame(port, dest.data(), capacity, timeoutMs, clock);
  FUZZ_CHECK(result <= static_cast<int32_t>(capacity));
  // Once the bytes run out the call ends soon: no spinning on an empty line.
  FUZZ_CHECK(port.reads <= port.Consumed() + 4);
  if (result < 0) {
    FUZZ_CHECK(result == LINK_E_TIMEOUT || result == LINK_E_COMM || result == LINK_E_FRAME ||
               result == LINK_E_CHECKSUM || result == LINK_E_OVERFLOW);
    return 0;
  }

  // A payload that was accepted survives its own encoding unchanged.
  std::vector<uint8_t> frame(kMaxFrame);
  const size_t frameLength = EncodeFrame(dest.data(), static_cast<size_t>(result), frame.data());
  fuzz::FuzzClock clock2;
  fuzz::FuzzPort port2(frame.data(), frameLength, clock2, false);
  std::vector<uint8_t> again(capacity);
  FUZZ_CHECK(ReceiveFrame(port2, again.data(), capacity, timeoutMs, clock2) == result);
  FUZZ_CHECK(std::equal(again.begin(), again.begin() + result, dest.begin()));
  FUZZ_CHECK(port2.Consumed() == frameLength);
  return 0;
}
