#include "cli/terminal_view.h"

namespace vanta::cli {

TerminalView::TerminalView(Console& console, int slot, YesNoPolicy yesNo)
    : console_(console), slot_(slot), yesNo_(yesNo) {}

void TerminalView::SetStatus(const std::string& text) {
  console_.Status(slot_, text);
}

void TerminalView::SetProgress(uint64_t done, uint64_t total, bool bytes) {
  console_.Progress(slot_, done, total, bytes);
}

MessageAnswer TerminalView::ShowMessage(const std::string& text, const std::string& caption,
                                        MessageIcon, MessageButtons buttons) {
  if (AsksYesNo(buttons)) {
    bool yes =
        yesNo_ == YesNoPolicy::AnswerYes || (yesNo_ == YesNoPolicy::Ask && console_.AskYesNo(text));
    return yes ? MessageAnswer::Yes : MessageAnswer::No;
  }
  bool ownCaption = !caption.empty() && caption != kAppTitle;
  console_.Note(slot_, ownCaption ? caption + ": " + text : text, true);
  return MessageAnswer::Ok;
}

}  // namespace vanta::cli
