#pragma once
// CZaduderivaDlg: the main window. It lays out the form in dialog units, implements DialogView
// for the toolkit-free DialogController and runs each button's flow on a worker thread while the
// window keeps painting and swallows the user's input.
#include <QDialog>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_dialog_units.h"
#include "dialog/dialog_controller.h"
#include "dialog/dialog_view.h"
#include "dialog/form.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vanta {

class CZaduderivaDlg : public QDialog, public DialogView {
  Q_OBJECT

 public:
  // link nullptr means a link over the host's serial ports; imageDirs are where images are
  // looked for (none: no images).
  explicit CZaduderivaDlg(std::unique_ptr<ProbeLink> link = nullptr,
                          ImageDirectories imageDirs = {}, QWidget* parent = nullptr);
  ~CZaduderivaDlg() override;

  // The fields start-up fills before the dialog opens and reads after it closed.
  DialogFields& Fields() { return controller_.Fields(); }
  DialogController& Controller() { return controller_; }
  const DialogUnits& Units() const { return units_; }

  // A control of the form by its ID (nullptr when there is none).
  QWidget* Control(int id) const;

  // Runs flow on a worker thread; meanwhile the window paints but its input is swallowed.
  // Returns when the flow has ended. Ignored while another flow runs.
  void RunFlow(const std::function<void()>& flow);
  bool FlowRunning() const { return flowRunning_; }

  // Shows the About box modally (the context menu's item and F1).
  void OnAbout();

  // Tests answer message boxes here instead of showing them; nullptr shows real boxes.
  using MessageHook =
      std::function<MessageAnswer(const std::string& text, const std::string& caption,
                                  MessageIcon icon, MessageButtons buttons)>;
  void SetMessageHook(MessageHook hook) { messageHook_ = std::move(hook); }

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

 public slots:
  // Escape, the close box and Cancel: firmware start and link close, then the dialog ends.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void BuildForm();
  void OnOkClicked();
  // Runs work on the window's thread, waiting for it when called from the worker.
  void OnGuiThread(const std::function<void()>& work);
  void SetLimitedText(QLineEdit* edit, int limit, const std::string& text);

  DialogController controller_;
  DialogUnits units_;
  std::map<int, QWidget*> controls_;
  std::map<FlowButton, QPushButton*> buttons_;
  std::map<VersionLabel, QLabel*> versionLabels_;
  std::map<EditField, QLineEdit*> edits_;
  QLabel* status_ = nullptr;
  QLabel* serialLabel_ = nullptr;
  QLabel* macLabel_ = nullptr;
  QComboBox* portList_ = nullptr;
  QComboBox* speedList_ = nullptr;
  MessageHook messageHook_;
  bool opened_ = false;
  bool flowRunning_ = false;
  int waitDepth_ = 0;
};

}  // namespace vanta
