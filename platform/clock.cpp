#include "platform/clock.h"

#include <time.h>

namespace vanta {
namespace {

class MonotonicClock final : public Clock {
 public:
  uint32_t TickMs() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000;
    return static_cast<uint32_t>(ms);
  }
  void Sleep(uint32_t ms) override {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
  }
};

}  // namespace

Clock& SystemClock() {
  static MonotonicClock clock;  // stateless; shared safely by every link
  return clock;
}

void DelayMs(Clock& clock, uint32_t ms) {
  const uint32_t start = clock.TickMs();
  for (;;) {
    const uint32_t elapsed = clock.TickMs() - start;
    if (elapsed >= ms) return;
    // Sleep rather than spin; never past the remaining time by more than the clock's grain.
    clock.Sleep(ms - elapsed);
  }
}

}  // namespace vanta
