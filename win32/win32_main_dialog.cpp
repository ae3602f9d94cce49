#include "win32/win32_main_dialog.h"

#include <thread>

#include "dialog/form.h"
#include "link/link_session.h"
#include "win32/resource.h"
#include "win32/win32_text.h"

namespace vanta {

namespace {

// A view call from the worker: lParam points at the work to run on the window's thread.
constexpr UINT kRunOnGuiThread = WM_APP + 1;

int ButtonId(FlowButton button) {
  switch (button) {
    case FlowButton::Connect:
      return kIdConnect;
    case FlowButton::Current:
      return kIdCurrent;
    case FlowButton::Update:
      return kIdUpdate;
    case FlowButton::Erase:
      return kIdErase;
    case FlowButton::Transmit:
      return kIdTransmit;
  }
  return kIdConnect;
}

int LabelId(VersionLabel label) {
  switch (label) {
    case VersionLabel::Loader:
      return kIdLoader;
    case VersionLabel::Firmware:
      return kIdFirmware;
    case VersionLabel::Logic:
      return kIdLogic;
    case VersionLabel::NewestFirmware:
      return kIdNewestFirmware;
    case VersionLabel::NewestLogic:
      return kIdNewestLogic;
  }
  return kIdLoader;
}

int FieldId(EditField field) {
  switch (field) {
    case EditField::ProbeIp:
      return kIdProbeIp;
    case EditField::SubnetMask:
      return kIdSubnet;
    case EditField::Gateway:
      return kIdGateway;
    case EditField::ConfigHost:
      return kIdHost;
    case EditField::ConfigFile:
      return kIdConfigFile;
  }
  return kIdProbeIp;
}

// Keys, mouse buttons and moves, on the client area and on the frame (close box, system menu).
bool IsInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
         (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) || message == WM_MOUSEHOVER ||
         message == WM_NCMOUSEHOVER;
}

std::string ControlText(HWND window, int id) {
  HWND control = GetDlgItem(window, id);
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(control, text.data(), length + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return Narrow(text);
}

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      // The About box's data exchange: its template says "???".
      SetDlgItemTextW(window, kIdBoard, Widen(kBoardText).c_str());
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      EndDialog(window, IDCANCEL);
      return TRUE;
    default:
      break;
  }
  return FALSE;
}

}  // namespace

CZaduderivaDlg::CZaduderivaDlg(HINSTANCE instance, std::unique_ptr<ProbeLink> link,
                               ImageDirectories imageDirs)
    : instance_(instance),
      guiThread_(GetCurrentThreadId()),
      controller_(*this, link ? std::move(link) : std::make_unique<ProbeLink>(),
                  std::move(imageDirs)) {
  icon_ =
      static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_PROGRAM), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
}

CZaduderivaDlg::~CZaduderivaDlg() {
  if (icon_ != nullptr) DestroyIcon(icon_);
  if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

INT_PTR CZaduderivaDlg::DoModal() {
  return DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_MAIN), nullptr, &DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CZaduderivaDlg::DialogProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CZaduderivaDlg*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->window_ = window;
    self->OnInitDialog();
    // Focus on the first enabled control in tab order (Connect, as only it is enabled).
    SetFocus(GetNextDlgTabItem(window, nullptr, FALSE));
    return FALSE;
  }
  auto* self = reinterpret_cast<CZaduderivaDlg*>(GetWindowLongPtrW(window, DWLP_USER));
  return self == nullptr ? FALSE : self->HandleMessage(message, wParam, lParam);
}

INT_PTR CZaduderivaDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kRunOnGuiThread:
      (*reinterpret_cast<const std::function<void()>*>(lParam))();
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED || HIWORD(wParam) == 0) OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      // The low four bits of a command code are the system's own: 16 to 31 all mean About.
      if ((wParam & 0xFFF0) == static_cast<WPARAM>(kCommandAbout)) {
        OnAbout();
        return TRUE;
      }
      if (flowRunning_) return TRUE;  // no close, move or menu while a flow runs
      return FALSE;
    case WM_CLOSE:
      if (!flowRunning_) OnCommand(IDCANCEL);
      return TRUE;
    case WM_SETCURSOR:
      if (waitDepth_ > 0) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    default:
      (void)lParam;
      return FALSE;
  }
}

void CZaduderivaDlg::OnInitDialog() {
  for (const FormControl& c : MainForm().controls) {
    if (c.kind == ControlKind::EditField && c.limit > 0)
      SendDlgItemMessageW(window_, c.id, EM_SETLIMITTEXT, static_cast<WPARAM>(c.limit), 0);
  }
  for (int n = 1; n <= kPortCount; ++n)
    SendDlgItemMessageW(window_, kIdPort, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>((L"COM" + std::to_wstring(n)).c_str()));
  for (uint32_t speed : kSpeedTable)
    SendDlgItemMessageW(window_, kIdSpeed, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>(std::to_wstring(speed).c_str()));

  controller_.OnOpen();

  HMENU menu = GetSystemMenu(window_, FALSE);
  const std::wstring item = Widen(kAboutItemText);
  if (menu != nullptr && !item.empty()) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kCommandAbout, item.c_str());
  }
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
}

void CZaduderivaDlg::OnCommand(int id) {
  if (flowRunning_) return;
  switch (id) {
    case kIdConnect:
      RunFlow([this] { controller_.OnConnect(); });
      break;
    case kIdCurrent:
      RunFlow([this] { controller_.OnCurrent(); });
      break;
    case kIdUpdate:
      RunFlow([this] { controller_.OnUpdate(); });
      break;
    case kIdErase:
      RunFlow([this] { controller_.OnErase(); });
      break;
    case kIdTransmit:
      RunFlow([this] { controller_.OnTransmit(); });
      break;
    case IDOK: {
      bool ok = false;
      RunFlow([this, &ok] { ok = controller_.OnOk(); });
      if (ok) EndDialog(window_, IDOK);
      break;
    }
    case IDCANCEL:
      RunFlow([this] { controller_.OnCancel(); });
      EndDialog(window_, IDCANCEL);
      break;
    default:
      break;
  }
}

void CZaduderivaDlg::OnAbout() {
  if (flowRunning_) return;
  DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_ABOUT), window_, &AboutProc, 0);
}

void CZaduderivaDlg::RunFlow(const std::function<void()>& flow) {
  if (flowRunning_) return;
  flowRunning_ = true;
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // The controller and its link belong to the worker until the flow ends; every view call it
  // makes comes back to this thread, which meanwhile keeps taking its messages so that the
  // system never sees the window hang.
  std::thread worker([&flow, done] {
    flow();
    SetEvent(done);
  });
  for (;;) {
    const DWORD woke =
        MsgWaitForMultipleObjectsEx(1, &done, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) break;
    DispatchAllButInput();
  }
  worker.join();
  CloseHandle(done);
  // What was typed or clicked while the flow ran and is still queued goes too.
  DispatchAllButInput();
  flowRunning_ = false;
  MoveFocusOffDisabled();
}

void CZaduderivaDlg::DispatchAllButInput() {
  MSG message;
  bool quit = false;
  int quitCode = 0;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit = true;
      quitCode = static_cast<int>(message.wParam);
      continue;
    }
    if (IsInput(message.message) && (message.hwnd == window_ || IsChild(window_, message.hwnd)))
      continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (quit) PostQuitMessage(quitCode);
}

void CZaduderivaDlg::OnGuiThread(const std::function<void()>& work) {
  if (GetCurrentThreadId() == guiThread_ || window_ == nullptr)
    work();
  else
    SendMessageW(window_, kRunOnGuiThread, 0, reinterpret_cast<LPARAM>(&work));
}

void CZaduderivaDlg::SetLabel(int id, const std::string& text) {
  SetDlgItemTextW(window_, id, Widen(text).c_str());
  // Repainted now: the flow may block on the line before the next paint would come.
  UpdateWindow(GetDlgItem(window_, id));
}

void CZaduderivaDlg::MoveFocusOffDisabled() {
  // Disabling the focused button leaves the focus nowhere, so the keyboard would reach no
  // control; it goes on from that button to the next one that takes it.
  HWND focus = GetFocus();
  HWND from = focus != nullptr && IsChild(window_, focus) ? focus : focusLost_;
  focusLost_ = nullptr;
  if (from == nullptr || (focus == from && IsWindowEnabled(focus))) return;
  HWND next = GetNextDlgTabItem(window_, from, FALSE);
  if (next != nullptr) SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
}

void CZaduderivaDlg::SetStatus(const std::string& text) {
  OnGuiThread([this, &text] { SetLabel(kIdStatus, text); });
}

void CZaduderivaDlg::SetVersionLabel(VersionLabel label, const std::string& text) {
  OnGuiThread([this, label, &text] { SetLabel(LabelId(label), text); });
}

void CZaduderivaDlg::EnableButton(FlowButton button, bool enabled) {
  OnGuiThread([this, button, enabled] {
    HWND control = GetDlgItem(window_, ButtonId(button));
    if (!enabled && GetFocus() == control) focusLost_ = control;
    EnableWindow(control, enabled ? TRUE : FALSE);
    // A flow moves the focus off a button it disabled when it ends, once the buttons it
    // enables are usable; outside a flow that is now.
    if (!flowRunning_) MoveFocusOffDisabled();
  });
}

ControlValues CZaduderivaDlg::ReadControls() {
  ControlValues values;
  OnGuiThread([this, &values] {
    values.portIndex =
        static_cast<int32_t>(SendDlgItemMessageW(window_, kIdPort, CB_GETCURSEL, 0, 0));
    values.speedIndex =
        static_cast<int32_t>(SendDlgItemMessageW(window_, kIdSpeed, CB_GETCURSEL, 0, 0));
    if (values.portIndex < 0) values.portIndex = -1;
    if (values.speedIndex < 0) values.speedIndex = -1;
    values.setup.probeIpText = ControlText(window_, kIdProbeIp);
    values.setup.subnetMaskText = ControlText(window_, kIdSubnet);
    values.setup.gatewayText = ControlText(window_, kIdGateway);
    values.setup.configHostText = ControlText(window_, kIdHost);
    values.setup.configFileText = ControlText(window_, kIdConfigFile);
    values.serialNumber = ControlText(window_, kIdSerial);
    values.macAddressText = ControlText(window_, kIdMac);
  });
  return values;
}

void CZaduderivaDlg::WriteControls(const ControlValues& values) {
  OnGuiThread([this, &values] {
    const int port = values.portIndex >= 0 && values.portIndex < kPortCount ? values.portIndex : -1;
    const int speed =
        values.speedIndex >= 0 && values.speedIndex < kSpeedCount ? values.speedIndex : -1;
    SendDlgItemMessageW(window_, kIdPort, CB_SETCURSEL, static_cast<WPARAM>(port), 0);
    SendDlgItemMessageW(window_, kIdSpeed, CB_SETCURSEL, static_cast<WPARAM>(speed), 0);
    // The edit limit holds for typing only, so a longer stored text arrives whole and the save
    // exchange can refuse it.
    SetLabel(kIdProbeIp, values.setup.probeIpText);
    SetLabel(kIdSerial, values.serialNumber);
    SetLabel(kIdSubnet, values.setup.subnetMaskText);
    SetLabel(kIdGateway, values.setup.gatewayText);
    SetLabel(kIdMac, values.macAddressText);
    SetLabel(kIdHost, values.setup.configHostText);
    SetLabel(kIdConfigFile, values.setup.configFileText);
  });
}

void CZaduderivaDlg::FocusField(EditField field) {
  OnGuiThread([this, field] {
    HWND edit = GetDlgItem(window_, FieldId(field));
    SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
    SendMessageW(edit, EM_SETSEL, 0, -1);
  });
}

MessageAnswer CZaduderivaDlg::ShowMessage(const std::string& text, const std::string& caption,
                                          MessageIcon icon, MessageButtons buttons) {
  MessageAnswer answer = MessageAnswer::Ok;
  OnGuiThread([&] {
    UINT style = icon == MessageIcon::Exclamation ? MB_ICONEXCLAMATION
                 : icon == MessageIcon::Question  ? MB_ICONQUESTION
                                                  : 0;
    if (AsksYesNo(buttons)) {
      style |= MB_YESNO;
      if (buttons == MessageButtons::YesNoDefaultNo) style |= MB_DEFBUTTON2;
    } else {
      style |= MB_OK;
    }
    const int result =
        MessageBoxW(window_, Widen(text).c_str(),
                    Widen(caption.empty() ? std::string(kAppTitle) : caption).c_str(), style);
    if (AsksYesNo(buttons)) answer = result == IDYES ? MessageAnswer::Yes : MessageAnswer::No;
  });
  return answer;
}

void CZaduderivaDlg::BeginWaitCursor() {
  OnGuiThread([this] {
    ++waitDepth_;
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  });
}

void CZaduderivaDlg::EndWaitCursor() {
  OnGuiThread([this] {
    if (waitDepth_ == 0) return;  // an end without a begin must not undo someone else's cursor
    if (--waitDepth_ == 0) SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  });
}

}  // namespace vanta
