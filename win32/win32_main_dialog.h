#pragma once
// CZaduderivaDlg on Win32: the main dialog made from the IDD_MAIN resource. It implements
// DialogView for the toolkit-free DialogController and runs each button's flow on a worker thread
// while the window keeps painting and answering the system, and drops the user's input.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "dialog/dialog_controller.h"
#include "dialog/dialog_view.h"

namespace vanta {

class CZaduderivaDlg : public DialogView {
 public:
  // link nullptr means a link over the host's serial ports; imageDirs are where images are
  // looked for.
  CZaduderivaDlg(HINSTANCE instance, std::unique_ptr<ProbeLink> link, ImageDirectories imageDirs);
  ~CZaduderivaDlg() override;

  // The fields start-up fills before the dialog opens and reads after it closed.
  DialogFields& Fields() { return controller_.Fields(); }

  // Runs the dialog modally; IDOK after a successful Ok, IDCANCEL otherwise.
  INT_PTR DoModal();

  // DialogView: callable from the flow's worker thread; each call runs on the window's thread.
  void SetStatus(const std::string& text) override;
  void SetVersionLabel(VersionLabel label, const std::string& text) override;
  void EnableButton(FlowButton button, bool enabled) override;
  ControlValues ReadControls() override;
  void WriteControls(const ControlValues& values) override;
  void FocusField(EditField field) override;
  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  void OnCommand(int id);
  void OnAbout();
  // Runs flow on a worker thread and returns when it has ended; ignored while another runs.
  void RunFlow(const std::function<void()>& flow);
  // Dispatches what is queued for the window's thread, except input meant for the dialog.
  void DispatchAllButInput();
  // Runs work on the window's thread, waiting for it when called from the worker.
  void OnGuiThread(const std::function<void()>& work);
  void SetLabel(int id, const std::string& text);
  // The focus left on a disabled button goes on to the next control that takes it.
  void MoveFocusOffDisabled();

  HINSTANCE instance_;
  HWND window_ = nullptr;
  DWORD guiThread_;
  DialogController controller_;
  HWND focusLost_ = nullptr;  // a button disabled while it had the focus
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;
  bool flowRunning_ = false;
  int waitDepth_ = 0;
};

}  // namespace vanta
