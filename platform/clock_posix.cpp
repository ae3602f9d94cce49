#include <time.h>

#include "platform/clock.h"

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

}  // namespace vanta
