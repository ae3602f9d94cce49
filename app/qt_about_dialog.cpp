#include "app/qt_about_dialog.h"

#include <QLabel>
#include <string>

#include "app/qt_dialog_units.h"
#include "dialog/form.h"

namespace vanta {

namespace {

// Object names the tests find the About box's rows by.
QString ObjectName(const FormControl& c) {
  if (c.id >= 0) return QStringLiteral("idc_%1").arg(c.id);
  const std::string name = c.name;
  if (name == "AboutIcon") return QStringLiteral("about_icon");
  if (name == "AboutVersion") return QStringLiteral("about_version");
  return QStringLiteral("about_note");
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  const QFont font = DialogFont();
  const DialogUnits units(font);
  const FormTemplate& form = AboutForm();
  setFont(font);
  setWindowTitle(QString::fromLatin1(form.title));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(units.Size(form.width, form.height));

  for (const FormControl& c : form.controls) {
    auto* label = new QLabel(this);
    label->setObjectName(ObjectName(c));
    if (c.kind == ControlKind::Icon) {
      // The icon keeps its own size in pixels at its place in units.
      label->setPixmap(ProgramIcon().pixmap(32, 32));
      label->setGeometry(units.X(c.x), units.Y(c.y), 32, 32);
      continue;
    }
    label->setText(QString::fromLatin1(c.text));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(units.Rect(c.x, c.y, c.width, c.height));
    if (c.id == kIdBoard) {
      board_ = label;
      board_->setProperty("controlId", c.id);
    }
  }
}

void CAboutDlg::showEvent(QShowEvent* event) {
  ExchangeData();
  QDialog::showEvent(event);
}

void CAboutDlg::ExchangeData() {
  board_->setText(QString::fromLatin1(kBoardText));
}

}  // namespace vanta
