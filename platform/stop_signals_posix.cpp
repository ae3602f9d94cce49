#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

#include "platform/stop_signals.h"

namespace vanta {

struct StopSignals::State {
  sigset_t stops;
  sigset_t previous;
};

StopSignals::StopSignals() : state_(std::make_unique<State>()) {
  sigemptyset(&state_->stops);
  sigaddset(&state_->stops, SIGINT);
  sigaddset(&state_->stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &state_->stops, &state_->previous);
}

StopSignals::~StopSignals() {
  pthread_sigmask(SIG_SETMASK, &state_->previous, nullptr);
}

bool StopSignals::Wait(uint32_t ms) {
  timespec timeout{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  for (;;) {
    const int signal = sigtimedwait(&state_->stops, nullptr, &timeout);
    if (signal > 0) return true;
    // Another signal interrupted the wait: the rest of the wait is not worth tracking.
    if (errno == EINTR) continue;
    return false;  // EAGAIN: the time passed
  }
}

}  // namespace vanta
