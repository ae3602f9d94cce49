#include "platform/clock.h"

#include <algorithm>

namespace vanta {

void DelayMs(Clock& clock, uint32_t ms) {
  const Deadline deadline(clock, ms);
  // The last sleep covers the tick that proves the whole time has passed.
  while (!deadline.Expired()) clock.Sleep(std::max<uint32_t>(deadline.RemainingMs(), 1));
}

}  // namespace vanta
