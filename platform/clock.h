#pragma once
// Millisecond tick and delay. Injected wherever time-outs are computed, so tests can use a fake.
#include <cstdint>

namespace vanta {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; wraps at 2^32 like the host's tick count.
  virtual uint32_t TickMs() = 0;
  // Lets the calling thread rest for about ms milliseconds; a fake clock advances instead.
  virtual void Sleep(uint32_t ms) = 0;
};

// The host's monotonic clock (never jumps with the wall clock).
Clock& SystemClock();

// Returns once clock.TickMs() has advanced by at least ms since the call. The difference is taken
// in unsigned 32-bit arithmetic, so the wait is right across the wrap of the counter.
void DelayMs(Clock& clock, uint32_t ms);

}  // namespace vanta
