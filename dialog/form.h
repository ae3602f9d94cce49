#pragma once
// The main dialog's form and the About box as data, without a toolkit: the Qt window lays out
// from these tables and the Windows build compiles the same rows into its dialog resources.
#include <span>

namespace vanta {

enum class ControlKind { GroupBox, Label, Button, DefaultButton, EditField, DropDownList, Icon };
enum class ControlAlign { Left, Centre, Right };

// One control: its number in tab order, its ID (-1 for none), kind, text and position in dialog
// units.
struct FormControl {
  const char* name;  // the row's name, as in kId<name>
  int number;
  int id;
  ControlKind kind;
  const char* text;
  int x, y, width, height;
  ControlAlign align;
  int limit;  // edit fields: characters the user may type, 0 = no limit
};

// A dialog template: size in dialog units, title, font and the controls in tab order.
struct FormTemplate {
  int width, height;
  const char* title;
  int fontPoints;
  const char* fontFace;
  std::span<const FormControl> controls;
};

// The control IDs by their rows' names (kIdSerial = 118, ...); a row without an ID is -1.
enum ControlId : int {
#define FORM_WINDOW(width, height, title, points, face)
#define FORM_CONTROL(number, name, id, kind, text, x, y, w, h, align, limit) kId##name = (id),
#define ABOUT_WINDOW(width, height, title, points, face)
#define ABOUT_CONTROL(number, name, id, kind, text, x, y, w, h, align, limit) kId##name = (id),
#include "dialog/form_table.def"
#undef FORM_WINDOW
#undef FORM_CONTROL
#undef ABOUT_WINDOW
#undef ABOUT_CONTROL
};

inline constexpr int kCommandAbout = 16;  // the About item's command code in the system menu
inline constexpr const char* kAboutItemText = "&About vantaLink Setup...";
inline constexpr const char* kBoardText = "PPC4xx";  // what the About box's data exchange shows

// The main dialog: 219 by 301 units, "Vanta7 Update/Setup", its 40 controls.
const FormTemplate& MainForm();
// The About box: 221 by 48 units, the icon and three centred labels.
const FormTemplate& AboutForm();

}  // namespace vanta
