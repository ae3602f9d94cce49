#include "app/qt_dialog_units.h"

#include <QFontMetrics>

// Resources of a static library must be pulled in by name, outside any namespace.
static void InitProgramResources() {
  Q_INIT_RESOURCE(vantalink);
}

namespace vanta {

QFont DialogFont() {
  // Where "MS Sans Serif" is missing, the font configuration names its nearest sans-serif.
  QFont font(QStringLiteral("MS Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QIcon ProgramIcon() {
  InitProgramResources();
  QIcon icon;
  for (const char* size : {"32", "64", "128"})
    icon.addFile(QStringLiteral(":/vantalink/icon-%1.png").arg(QLatin1String(size)));
  return icon;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabet = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = (alphabet / 26 + 1) / 2;
  baseY_ = metrics.height();
}

int DialogUnits::X(int units) const {
  return (units * baseX_ + 2) / 4;
}

int DialogUnits::Y(int units) const {
  return (units * baseY_ + 4) / 8;
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return QRect(X(x), Y(y), X(width), Y(height));
}

QSize DialogUnits::Size(int width, int height) const {
  return QSize(X(width), Y(height));
}

}  // namespace vanta
