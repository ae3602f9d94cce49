#include <windows.h>

#include "platform/clock.h"

namespace vanta {
namespace {

// GetTickCount counts milliseconds since the system started and wraps after 49.7 days, as
// Clock's ticks do; Deadline's unsigned difference rides over the wrap.
class TickCountClock final : public Clock {
 public:
  uint32_t TickMs() override { return static_cast<uint32_t>(GetTickCount()); }
  void Sleep(uint32_t ms) override { ::Sleep(ms); }
};

}  // namespace

Clock& SystemClock() {
  static TickCountClock clock;  // stateless; shared safely by every link
  return clock;
}

}  // namespace vanta
