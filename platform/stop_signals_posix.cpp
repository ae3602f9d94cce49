#include "platform/stop_signals.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace vanta {

StopSignals::StopSignals() {
  sigemptyset(&stops_);
  sigaddset(&stops_, SIGINT);
  sigaddset(&stops_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops_, &previous_);
}

StopSignals::~StopSignals() {
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

bool StopSignals::Wait(uint32_t ms) {
  timespec timeout{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  for (;;) {
    const int signal = sigtimedwait(&stops_, nullptr, &timeout);
    if (signal > 0) return true;
    // Another signal interrupted the wait: the rest of the wait is not worth tracking.
    if (errno == EINTR) continue;
    return false;  // EAGAIN: the time passed
  }
}

}  // namespace vanta
