#include <windows.h>

#include "platform/terminal.h"

namespace vanta {
namespace {

HANDLE Handle(StandardStream stream) {
  switch (stream) {
    case StandardStream::Input:
      return GetStdHandle(STD_INPUT_HANDLE);
    case StandardStream::Output:
      return GetStdHandle(STD_OUTPUT_HANDLE);
    case StandardStream::Error:
      break;
  }
  return GetStdHandle(STD_ERROR_HANDLE);
}

}  // namespace

bool IsTerminal(StandardStream stream) {
  // Only a console has a console mode; a pipe or file does not.
  DWORD mode = 0;
  return GetConsoleMode(Handle(stream), &mode) != 0;
}

bool TakesTerminalSequences(StandardStream stream) {
  const HANDLE handle = Handle(stream);
  DWORD mode = 0;
  if (stream == StandardStream::Input || !GetConsoleMode(handle, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  // Consoles before Windows 10 refuse the mode: progress then comes as plain lines.
  return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

size_t TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

bool UtcTime(std::time_t now, std::tm& parts) {
  return gmtime_s(&parts, &now) == 0;
}

bool LocalTime(std::time_t now, std::tm& parts) {
  return localtime_s(&parts, &now) == 0;
}

}  // namespace vanta
