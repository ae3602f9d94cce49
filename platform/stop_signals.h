#pragma once
// Ctrl-C (SIGINT) and SIGTERM as requests a long-running command answers when it is ready,
// instead of the end of the process: while a StopSignals lives they are held pending for the
// process and taken only by Wait. On Windows the console's Ctrl-C, Ctrl-Break and close events
// (SetConsoleCtrlHandler) play their part.
#include <cstdint>
#include <memory>

namespace vanta {

class StopSignals {
 public:
  // Holds the stop requests back in the calling thread; make it before starting any thread, so
  // that every later thread holds them back too and only Wait receives them.
  StopSignals();
  // Lets them through again as they were before.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Waits up to ms milliseconds for one of them; true when one arrived.
  bool Wait(uint32_t ms);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vanta
