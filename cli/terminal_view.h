#pragma once
// The main dialog's face on a terminal: status texts become a probe's progress line, message
// boxes are printed (errors to standard error) and Yes/No is asked on the terminal. One view per
// probe, used only by that probe's thread.
#include <map>
#include <string>

#include "cli/console.h"
#include "dialog/dialog_view.h"

namespace vanta::cli {

// How a Yes/No box is answered.
enum class YesNoPolicy {
  AnswerYes,  // the user confirmed beforehand (--yes, or once for all probes)
  Ask,        // ask on the terminal
  AnswerNo,   // no terminal to ask on
};

class TerminalView : public DialogView {
 public:
  TerminalView(Console& console, int slot, YesNoPolicy yesNo);

  void SetStatus(const std::string& text) override;
  // The versions reach the run's result from the dialog's fields, not from labels.
  void SetVersionLabel(VersionLabel, const std::string&) override {}
  void EnableButton(FlowButton button, bool enabled) override;
  ControlValues ReadControls() override { return controls_; }
  void WriteControls(const ControlValues& values) override { controls_ = values; }
  void FocusField(EditField) override {}
  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override;
  // A terminal has no wait cursor; the progress line shows that a probe is busy.
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}

  // What the flows left behind, for the run's result.
  bool ButtonEnabled(FlowButton button) const;

 private:
  Console& console_;
  int slot_;
  YesNoPolicy yesNo_;
  ControlValues controls_;
  std::map<FlowButton, bool> buttons_;
};

}  // namespace vanta::cli
