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

// The host's millisecond tick: the monotonic clock on POSIX, GetTickCount on Windows (neither
// jumps with the wall clock).
Clock& SystemClock();

// A time-out of ms milliseconds counted on clock from the moment it is made; every wait with a
// time-out asks one of these. Ticks are whole milliseconds and the start may fall at the end of
// one, so only more than ms ticks prove that ms have fully passed. The difference is taken in
// unsigned 32-bit arithmetic, so a deadline is right across the wrap of the counter. A time-out
// of 0 has passed at once.
class Deadline {
 public:
  Deadline(Clock& clock, uint32_t ms) : clock_(clock), start_(clock.TickMs()), ms_(ms) {}

  // True once the whole time-out has passed.
  bool Expired() const { return ms_ == 0 || Elapsed() > ms_; }
  // The part of the time-out not used up yet, as a time-out to pass on (0 once it has run out).
  uint32_t RemainingMs() const {
    const uint32_t elapsed = Elapsed();
    return elapsed >= ms_ ? 0 : ms_ - elapsed;
  }
  uint32_t ElapsedMs() const { return Elapsed(); }

 private:
  uint32_t Elapsed() const { return clock_.TickMs() - start_; }
  Clock& clock_;
  uint32_t start_;
  uint32_t ms_;
};

// Returns once a Deadline of ms made at the call has expired; sleeps rather than spins.
void DelayMs(Clock& clock, uint32_t ms);

}  // namespace vanta
