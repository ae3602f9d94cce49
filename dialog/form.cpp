#include "dialog/form.h"

#include "dialog/dialog_view.h"

namespace vanta {

namespace {

struct WindowRow {
  int width, height;
  const char* title;
  int fontPoints;
  const char* fontFace;
};

#define ROW(number, name, id, kind, text, x, y, w, h, align, limit) \
  {#name, number, id, ControlKind::kind, text, x, y, w, h, ControlAlign::align, limit},
#define NONE(...)

#define FORM_WINDOW NONE
#define ABOUT_WINDOW NONE
#define FORM_CONTROL ROW
#define ABOUT_CONTROL NONE
constexpr FormControl kMainControls[] = {
#include "dialog/form_table.def"
};
#undef FORM_CONTROL
#undef ABOUT_CONTROL
#define FORM_CONTROL NONE
#define ABOUT_CONTROL ROW
constexpr FormControl kAboutControls[] = {
#include "dialog/form_table.def"
};
#undef ABOUT_CONTROL
#define ABOUT_CONTROL NONE
#undef FORM_WINDOW
#define FORM_WINDOW(width, height, title, points, face) \
  { width, height, title, points, face }
constexpr WindowRow kMainWindow =
#include "dialog/form_table.def"
    ;
#undef FORM_WINDOW
#undef ABOUT_WINDOW
#define FORM_WINDOW NONE
#define ABOUT_WINDOW(width, height, title, points, face) \
  { width, height, title, points, face }
constexpr WindowRow kAboutWindow =
#include "dialog/form_table.def"
    ;
#undef FORM_WINDOW
#undef ABOUT_WINDOW
#undef FORM_CONTROL
#undef ABOUT_CONTROL
#undef NONE
#undef ROW

// The edit fields' limits are the dialog's exchange limit or none.
constexpr bool LimitsMatchExchange() {
  for (const FormControl& c : kMainControls) {
    if (c.limit != 0 && c.limit != kAddressFieldLimit) return false;
  }
  return true;
}
static_assert(LimitsMatchExchange());

constexpr FormTemplate Template(const WindowRow& window, std::span<const FormControl> controls) {
  return {window.width, window.height, window.title, window.fontPoints, window.fontFace, controls};
}

}  // namespace

const FormTemplate& MainForm() {
  static const FormTemplate form = Template(kMainWindow, kMainControls);
  return form;
}

const FormTemplate& AboutForm() {
  static const FormTemplate form = Template(kAboutWindow, kAboutControls);
  return form;
}

}  // namespace vanta
