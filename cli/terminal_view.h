#pragma once
// The main dialog's face on a terminal: status texts become a probe's progress line, message
// boxes are printed (errors to standard error) and Yes/No is asked on the terminal. One view per
// probe, used only by that probe's thread.
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
  // The numbers beside the status text draw the bar, the rate and the time left.
  void SetProgress(uint64_t done, uint64_t total, bool bytes) override;
  // The versions reach the run's result from the dialog's fields, not from labels.
  void SetVersionLabel(VersionLabel, const std::string&) override {}
  // A terminal has no buttons: what Update would offer is asked of UpdateRule.
  void EnableButton(FlowButton, bool) override {}
  ControlValues ReadControls() override { return controls_; }
  void WriteControls(const ControlValues& values) override { controls_ = values; }
  void FocusField(EditField) override {}
  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override;
  // A terminal has no wait cursor; the progress line shows that a probe is busy.
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}

 private:
  Console& console_;
  int slot_;
  YesNoPolicy yesNo_;
  ControlValues controls_;
};

}  // namespace vanta::cli
