#include "dialog/form.h"

#include "dialog/dialog_view.h"

namespace vanta {

namespace {

#define FORM_WINDOW(width, height, title)
#define FORM_FONT(points, face)
#define ABOUT_WINDOW(width, height, title)
#define ABOUT_CONTROL(number, name, id, kind, text, x, y, w, h, align, limit)
#define FORM_CONTROL(number, name, id, kind, text, x, y, w, h, align, limit) \
  {#name, number, id, ControlKind::kind, text, x, y, w, h, ControlAlign::align, limit},
constexpr FormControl kMainControls[] = {
#include "dialog/form_table.def"
};
#undef FORM_CONTROL
#undef ABOUT_CONTROL
#define FORM_CONTROL(number, name, id, kind, text, x, y, w, h, align, limit)
#define ABOUT_CONTROL(number, name, id, kind, text, x, y, w, h, align, limit) \
  {#name, number, id, ControlKind::kind, text, x, y, w, h, ControlAlign::align, limit},
constexpr FormControl kAboutControls[] = {
#include "dialog/form_table.def"
};
#undef FORM_CONTROL
#undef ABOUT_CONTROL
#undef FORM_WINDOW
#undef FORM_FONT
#undef ABOUT_WINDOW

struct WindowRow {
  int width, height;
  const char* title;
};
struct FontRow {
  int points;
  const char* face;
};

#define FORM_CONTROL(number, name, id, kind, text, x, y, w, h, align, limit)
#define ABOUT_CONTROL(number, name, id, kind, text, x, y, w, h, align, limit)
#define FORM_FONT(points, face)
#define ABOUT_WINDOW(width, height, title)
#define FORM_WINDOW(width, height, title) \
  { width, height, title }
constexpr WindowRow kMainWindow =
#include "dialog/form_table.def"
    ;
#undef FORM_WINDOW
#undef ABOUT_WINDOW
#define FORM_WINDOW(width, height, title)
#define ABOUT_WINDOW(width, height, title) \
  { width, height, title }
constexpr WindowRow kAboutWindow =
#include "dialog/form_table.def"
    ;
#undef FORM_FONT
#undef ABOUT_WINDOW
#define ABOUT_WINDOW(width, height, title)
#define FORM_FONT(points, face) \
  { points, face }
constexpr FontRow kFont =
#include "dialog/form_table.def"
    ;
#undef FORM_CONTROL
#undef ABOUT_CONTROL
#undef FORM_FONT
#undef FORM_WINDOW
#undef ABOUT_WINDOW

// The edit fields' limits are the dialog's exchange limit or none.
constexpr bool LimitsMatchExchange() {
  for (const FormControl& c : kMainControls) {
    if (c.limit != 0 && c.limit != kAddressFieldLimit) return false;
  }
  return true;
}
static_assert(LimitsMatchExchange());

}  // namespace

const FormTemplate& MainForm() {
  static const FormTemplate form{kMainWindow.width, kMainWindow.height, kMainWindow.title,
                                 kFont.points,      kFont.face,         kMainControls};
  return form;
}

const FormTemplate& AboutForm() {
  static const FormTemplate form{kAboutWindow.width, kAboutWindow.height, kAboutWindow.title,
                                 kFont.points,       kFont.face,          kAboutControls};
  return form;
}

}  // namespace vanta
