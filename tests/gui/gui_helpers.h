#pragma once
// Helpers for driving modal boxes and menus in the window's tests.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <ostream>

// Readable failure messages for texts of the window.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace vanta::test {

// Once a modal window or popup menu other than `except` shows, runs action on it (once). Gives up
// after timeoutMs, so a box that never appears cannot hang the test.
inline void WhenModal(std::function<void(QWidget*)> action, QWidget* except = nullptr,
                      int timeoutMs = 5000) {
  auto* timer = new QTimer(qApp);
  auto* clock = new QElapsedTimer;
  clock->start();
  QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, action, except, timeoutMs] {
    QWidget* top = QApplication::activePopupWidget();
    if (top == nullptr) top = QApplication::activeModalWidget();
    if (top != nullptr && top != except && top->isVisible()) {
      timer->stop();
      timer->deleteLater();
      delete clock;
      action(top);
      return;
    }
    if (clock->elapsed() > timeoutMs) {
      timer->stop();
      timer->deleteLater();
      delete clock;
    }
  });
  timer->start(10);
}

}  // namespace vanta::test
