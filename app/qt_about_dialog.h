#pragma once
// CAboutDlg: the About box, closed with Escape or the close box.
#include <QDialog>

class QLabel;

namespace vanta {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);

  // The label whose template text "???" the data exchange replaces.
  QLabel* BoardLabel() const { return board_; }

 protected:
  // The data exchange runs each time the box is shown.
  void showEvent(QShowEvent* event) override;

 private:
  void ExchangeData();

  QLabel* board_ = nullptr;
};

}  // namespace vanta
