#include "app/qt_about_dialog.h"

#include <QLabel>

#include "app/qt_dialog_units.h"

namespace vanta {

namespace {

QLabel* CentredLabel(const QString& text, const DialogUnits& units, int y, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(units.Rect(40, y, 165, 8));
  return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  const QFont font = DialogFont();
  const DialogUnits units(font);
  setFont(font);
  setWindowTitle(QStringLiteral("About vantaLink Setup"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(units.Size(221, 48));

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("about_icon"));
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  icon->setGeometry(units.X(10), units.Y(10), 32, 32);

  CentredLabel(QStringLiteral("Vanta7 Setup Version 1.02"), units, 10, this)
      ->setObjectName(QStringLiteral("about_version"));
  board_ = CentredLabel(QStringLiteral("???"), units, 21, this);
  board_->setObjectName(QStringLiteral("idc_1000"));
  board_->setProperty("controlId", 1000);
  CentredLabel(QStringLiteral("Serial update and setup of the Vanta7 probe"), units, 35, this)
      ->setObjectName(QStringLiteral("about_note"));
}

void CAboutDlg::showEvent(QShowEvent* event) {
  ExchangeData();
  QDialog::showEvent(event);
}

void CAboutDlg::ExchangeData() {
  board_->setText(QStringLiteral("PPC4xx"));
}

}  // namespace vanta
