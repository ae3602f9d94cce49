#pragma once
// Dialog-template units on Qt: the form's positions are given in quarters of the dialog font's
// average character width (x) and eighths of its height (y).
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QSize>

namespace vanta {

// The dialog font: 8 pt "MS Sans Serif" when the system has it, else the nearest sans-serif.
QFont DialogFont();

// The program icon (drawn at three sizes).
QIcon ProgramIcon();

class DialogUnits {
 public:
  // Base units of font: average width of "A".."Z" "a".."z" (rounded) and the line height.
  explicit DialogUnits(const QFont& font);
  DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

  int BaseX() const { return baseX_; }
  int BaseY() const { return baseY_; }
  // Pixels of x units (units * baseX / 4) and y units (units * baseY / 8), rounded half up.
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;

 private:
  int baseX_;
  int baseY_;
};

}  // namespace vanta
