// Checks the dialog resources against the form table they were compiled from: every control of
// the main dialog and the About box in tab order, with its ID, window class, styles, text and
// rectangle, the rectangle compared in the dialog's own base units (MapDialogRect), never in
// fixed pixels, as each system's dialog font gives other units. Needs a display (Wine under Xvfb).
#include <windows.h>

#include <cstdio>
#include <string>

#include "dialog/form.h"
#include "win32/resource.h"
#include "win32/win32_text.h"

namespace {

using vanta::ControlAlign;
using vanta::ControlKind;
using vanta::FormControl;
using vanta::FormTemplate;

int failures = 0;

void Fail(const std::string& what) {
  std::printf("FAIL %s\n", what.c_str());
  ++failures;
}

void Expect(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

INT_PTR CALLBACK Quiet(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::string TextOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return vanta::Narrow(text);
}

// Where the dialog manager puts a control of the template: position and size are each mapped
// from units, so the right edge is the mapped x plus the mapped width.
RECT Units(HWND dialog, int x, int y, int width, int height) {
  RECT r{x, y, width, height};
  MapDialogRect(dialog, &r);
  return {r.left, r.top, r.left + r.right, r.top + r.bottom};
}

std::string Describe(const char* form, const FormControl& c) {
  return std::string(form) + " #" + std::to_string(c.number) + " " + c.name;
}

// The style bits the kind and alignment stand for.
void CheckKind(HWND control, const FormControl& c, const std::string& row) {
  const LONG style = GetWindowLongW(control, GWL_STYLE);
  const std::wstring cls = ClassOf(control);
  const bool tabStop = (style & WS_TABSTOP) != 0;
  switch (c.kind) {
    case ControlKind::GroupBox:
      Expect(_wcsicmp(cls.c_str(), L"Button") == 0 && (style & 0xF) == BS_GROUPBOX,
             row + ": a group box");
      Expect(!tabStop, row + ": not a tab stop");
      break;
    case ControlKind::Label: {
      const LONG align = c.align == ControlAlign::Centre  ? SS_CENTER
                         : c.align == ControlAlign::Right ? SS_RIGHT
                                                          : SS_LEFT;
      Expect(_wcsicmp(cls.c_str(), L"Static") == 0 && (style & SS_TYPEMASK) == align,
             row + ": a label aligned as the table says");
      Expect(!tabStop, row + ": not a tab stop");
      break;
    }
    case ControlKind::Button:
    case ControlKind::DefaultButton: {
      const LONG type = c.kind == ControlKind::DefaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
      Expect(_wcsicmp(cls.c_str(), L"Button") == 0 && (style & 0xF) == type,
             row + ": a push button, the default one only where the table says");
      Expect(tabStop, row + ": a tab stop");
      break;
    }
    case ControlKind::EditField: {
      Expect(_wcsicmp(cls.c_str(), L"Edit") == 0, row + ": an edit field");
      Expect((style & ES_AUTOHSCROLL) != 0, row + ": scrolls sideways");
      Expect(tabStop, row + ": a tab stop");
      // The edit control turns its border style into a frame of its own, so the border shows
      // as a client area smaller than the window.
      RECT outer, inner;
      GetWindowRect(control, &outer);
      GetClientRect(control, &inner);
      Expect(inner.right < outer.right - outer.left, row + ": a border");
      break;
    }
    case ControlKind::DropDownList: {
      Expect(_wcsicmp(cls.c_str(), L"ComboBox") == 0 && (style & 3) == CBS_DROPDOWNLIST,
             row + ": a drop-down list that cannot be typed into");
      Expect(!(style & CBS_SORT), row + ": unsorted");
      Expect(tabStop, row + ": a tab stop");
      break;
    }
    case ControlKind::Icon:
      Expect(_wcsicmp(cls.c_str(), L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON,
             row + ": the icon");
      Expect(SendMessageW(control, STM_GETICON, 0, 0) != 0, row + ": shows an icon");
      break;
  }
}

void CheckRect(HWND dialog, HWND control, const FormControl& c, const std::string& row) {
  RECT actual;
  GetWindowRect(control, &actual);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
  const RECT want = Units(dialog, c.x, c.y, c.width, c.height);
  if (c.kind == ControlKind::Icon) {
    // An icon sizes itself; only its place comes from the template.
    Expect(actual.left == want.left && actual.top == want.top, row + ": icon position");
    return;
  }
  bool same = actual.left == want.left && actual.top == want.top && actual.right == want.right;
  if (c.kind == ControlKind::DropDownList) {
    // The template height is the opened list's; closed, the list has the system's height.
    // Windows gives the whole dropped rectangle, Wine the opened list's less a frame of its
    // own: either way every list falls short of its template height by the same pixels, at
    // most the closed height and its frame.
    RECT dropped{};
    SendMessageW(control, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
    const long shortfall = (want.bottom - want.top) - (dropped.bottom - dropped.top);
    static long firstShortfall = -1;
    if (firstShortfall < 0) firstShortfall = shortfall;
    if (shortfall != firstShortfall || shortfall < 0 || shortfall > actual.bottom - actual.top + 4)
      Fail(row + ": opened height " + std::to_string(dropped.bottom - dropped.top) +
           " for a template height of " + std::to_string(want.bottom - want.top));
  } else {
    same = same && actual.bottom == want.bottom;
  }
  if (!same) {
    char text[160];
    std::snprintf(text, sizeof text, ": at %ld,%ld-%ld,%ld, template gives %ld,%ld-%ld,%ld",
                  actual.left, actual.top, actual.right, actual.bottom, want.left, want.top,
                  want.right, want.bottom);
    Fail(row + text);
  }
}

void CheckForm(int resource, const FormTemplate& form, const char* name) {
  HWND dialog =
      CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource), nullptr, &Quiet, 0);
  if (dialog == nullptr) {
    Fail(std::string(name) + ": dialog not created");
    return;
  }
  Expect(TextOf(dialog) == form.title, std::string(name) + ": title");
  RECT client;
  GetClientRect(dialog, &client);
  const RECT size = Units(dialog, 0, 0, form.width, form.height);
  Expect(client.right == size.right && client.bottom == size.bottom,
         std::string(name) + ": client area of the template's size");
  const LONG style = GetWindowLongW(dialog, GWL_STYLE);
  Expect((style & WS_SYSMENU) && (style & WS_CAPTION) && (style & DS_MODALFRAME) &&
             !(style & WS_MINIMIZEBOX) && !(style & WS_MAXIMIZEBOX),
         std::string(name) + ": modal frame, title bar with system menu, no minimise/maximise");

  // The children in creation order are the tab order.
  HWND child = GetWindow(dialog, GW_CHILD);
  size_t index = 0;
  for (; child != nullptr; child = GetWindow(child, GW_HWNDNEXT), ++index) {
    if (index >= form.controls.size()) {
      Fail(std::string(name) + ": more controls than the table has");
      break;
    }
    const FormControl& c = form.controls[index];
    const std::string row = Describe(name, c);
    Expect(GetDlgCtrlID(child) == (c.id < 0 ? 0xFFFF : c.id) || GetDlgCtrlID(child) == c.id,
           row + ": ID " + std::to_string(GetDlgCtrlID(child)));
    if (c.kind != ControlKind::Icon && c.kind != ControlKind::DropDownList)
      Expect(TextOf(child) == c.text, row + ": text \"" + TextOf(child) + "\"");
    CheckKind(child, c, row);
    CheckRect(dialog, child, c, row);
  }
  Expect(index == form.controls.size(), std::string(name) + ": as many controls as the table");
  DestroyWindow(dialog);
}

}  // namespace

int main() {
  CheckForm(IDD_MAIN, vanta::MainForm(), "main");
  CheckForm(IDD_ABOUT, vanta::AboutForm(), "about");
  std::printf("%s: %d failure(s)\n", failures == 0 ? "PASS" : "FAIL", failures);
  return failures == 0 ? 0 : 1;
}
