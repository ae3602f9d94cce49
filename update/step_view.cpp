#include "update/step_view.h"

namespace vanta {

void ShowError(StepView& view, const std::string& text) {
  view.ShowMessage(text, "", MessageIcon::Exclamation, MessageButtons::Ok);
}

}  // namespace vanta
