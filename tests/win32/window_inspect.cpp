// Prints a top-level window's controls as another program sees them, for the scripted checks
// of the window under Wine: window_inspect TITLE prints "focus ID" and one line per control,
// "ID CLASS ENABLED TEXT"; window_inspect TITLE ID prints the screen rectangle of control ID as
// "X Y WIDTH HEIGHT". Exit status 1 when no visible window has that title.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "win32/win32_text.h"

namespace {

std::string TextOf(HWND window) {
  // Sent, not read locally: the text of another process's control.
  wchar_t text[512] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      2000, nullptr);
  return vanta::Narrow(text);
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  wchar_t cls[64] = {};
  GetClassNameW(child, cls, 64);
  std::printf("%d %s %d %s\n", GetDlgCtrlID(child), vanta::Narrow(cls).c_str(),
              IsWindowEnabled(child) ? 1 : 0, TextOf(child).c_str());
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: window_inspect TITLE [ID]\n");
    return 2;
  }
  HWND window = nullptr;
  const std::wstring title = vanta::Widen(argv[1]);
  while ((window = FindWindowExW(nullptr, window, nullptr, title.c_str())) != nullptr) {
    if (IsWindowVisible(window)) break;
  }
  if (window == nullptr) return 1;
  if (argc == 3) {
    RECT r{};
    HWND control = GetDlgItem(window, std::atoi(argv[2]));
    if (control == nullptr || !GetWindowRect(control, &r)) return 1;
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
  }
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  std::printf("focus %d\n", info.hwndFocus != nullptr ? GetDlgCtrlID(info.hwndFocus) : 0);
  std::printf("enabled %d\n", IsWindowEnabled(window) ? 1 : 0);
  EnumChildWindows(window, &PrintChild, 0);
  return 0;
}
