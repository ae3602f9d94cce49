#pragma once
// A DialogView for tests: records every call in order and answers message boxes from a script.
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "dialog/dialog_view.h"

namespace vanta::test {

class RecordingView : public DialogView {
 public:
  struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon;
    MessageButtons buttons;
    int waitDepth;  // wait cursor depth when the box was shown (must be 0)
  };

  void SetStatus(const std::string& text) override;
  void SetVersionLabel(VersionLabel label, const std::string& text) override;
  void EnableButton(FlowButton button, bool enabled) override;
  ControlValues ReadControls() override { return controls; }
  void WriteControls(const ControlValues& values) override;
  void FocusField(EditField field) override;
  MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;

  // What the controls hold: tests type into it before a save exchange.
  ControlValues controls;
  // Answers for Yes/No boxes, in order; Yes when empty.
  std::deque<MessageAnswer> answers;

  std::vector<std::string> statuses;  // every status text set, in order
  std::string status;                 // the last one
  std::map<VersionLabel, std::string> labels;
  std::map<FlowButton, bool> buttons;
  std::vector<Message> messages;
  std::vector<std::string> events;  // "status:..", "label:..", "button:..", "message:..", "focus:N"
  std::vector<EditField> focused;
  int loads = 0;
  int waitDepth = 0;
  int maxWaitDepth = 0;
  bool unbalancedWait = false;  // an end without a begin

  // Texts of the message boxes, in order.
  std::vector<std::string> MessageTexts() const;
  bool Enabled(FlowButton button) const;
};

}  // namespace vanta::test
