// Ctrl-C, Ctrl-Break and the console's close as stop requests. The console calls its handler on a
// thread of its own; the handler can reach only process-wide state, so the requests are counted
// on an event that the one living StopSignals owns.
#include <windows.h>

#include <atomic>

#include "platform/stop_signals.h"

namespace vanta {
namespace {

// The event of the StopSignals that lives now (nullptr when none does). The console's handler
// takes no argument, so this is the only way to it.
std::atomic<HANDLE> requests{nullptr};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: {
      const HANDLE handle = requests.load();
      if (handle == nullptr) return FALSE;  // the default: end the process
      ReleaseSemaphore(handle, 1, nullptr);
      // A closing console ends the process once this returns: give the command a moment.
      if (event == CTRL_CLOSE_EVENT) Sleep(2000);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

struct StopSignals::State {
  HANDLE semaphore = nullptr;
};

StopSignals::StopSignals() : state_(std::make_unique<State>()) {
  // A semaphore counts requests: two quick Ctrl-C are two, as two signals are on POSIX.
  state_->semaphore = CreateSemaphoreA(nullptr, 0, 1000, nullptr);
  requests.store(state_->semaphore);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopSignals::~StopSignals() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  requests.store(nullptr);
  if (state_->semaphore != nullptr) CloseHandle(state_->semaphore);
}

bool StopSignals::Wait(uint32_t ms) {
  if (state_->semaphore == nullptr) {
    Sleep(ms);
    return false;
  }
  return WaitForSingleObject(state_->semaphore, ms) == WAIT_OBJECT_0;
}

}  // namespace vanta
