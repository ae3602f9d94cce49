#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/terminal.h"

namespace vanta {
namespace {

int Descriptor(StandardStream stream) {
  switch (stream) {
    case StandardStream::Input:
      return STDIN_FILENO;
    case StandardStream::Output:
      return STDOUT_FILENO;
    case StandardStream::Error:
      break;
  }
  return STDERR_FILENO;
}

}  // namespace

bool IsTerminal(StandardStream stream) {
  return isatty(Descriptor(stream)) != 0;
}

bool TakesTerminalSequences(StandardStream stream) {
  const char* term = std::getenv("TERM");
  return IsTerminal(stream) && term != nullptr && std::strcmp(term, "dumb") != 0;
}

size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0) return size.ws_col;
  return 0;
}

bool UtcTime(std::time_t now, std::tm& parts) {
  return gmtime_r(&now, &parts) != nullptr;
}

bool LocalTime(std::time_t now, std::tm& parts) {
  return localtime_r(&now, &parts) != nullptr;
}

}  // namespace vanta
