#include "tests/support/recording_view.h"

namespace vanta::test {

void RecordingView::SetStatus(const std::string& text) {
  status = text;
  statuses.push_back(text);
  events.push_back("status:" + text);
}

void RecordingView::SetVersionLabel(VersionLabel label, const std::string& text) {
  labels[label] = text;
  events.push_back("label:" + std::to_string(static_cast<int>(label)) + "=" + text);
}

void RecordingView::EnableButton(FlowButton button, bool enabled) {
  buttons[button] = enabled;
  events.push_back("button:" + std::to_string(static_cast<int>(button)) + (enabled ? "=on" : "=off"));
}

void RecordingView::WriteControls(const ControlValues& values) {
  controls = values;
  ++loads;
  events.push_back("load");
}

void RecordingView::FocusField(EditField field) {
  focused.push_back(field);
  events.push_back("focus:" + std::to_string(static_cast<int>(field)));
}

MessageAnswer RecordingView::ShowMessage(const std::string& text, const std::string& caption,
                                         MessageIcon icon, MessageButtons kind) {
  messages.push_back({text, caption, icon, kind, waitDepth});
  events.push_back("message:" + text);
  if (kind == MessageButtons::Ok) return MessageAnswer::Ok;
  if (answers.empty()) return MessageAnswer::Yes;
  const MessageAnswer answer = answers.front();
  answers.pop_front();
  return answer;
}

void RecordingView::BeginWaitCursor() {
  ++waitDepth;
  if (waitDepth > maxWaitDepth) maxWaitDepth = waitDepth;
}

void RecordingView::EndWaitCursor() {
  if (waitDepth == 0) {
    unbalancedWait = true;
    return;
  }
  --waitDepth;
}

std::vector<std::string> RecordingView::MessageTexts() const {
  std::vector<std::string> texts;
  for (const Message& m : messages) texts.push_back(m.text);
  return texts;
}

bool RecordingView::Enabled(FlowButton button) const {
  const auto it = buttons.find(button);
  return it != buttons.end() && it->second;
}

}  // namespace vanta::test
