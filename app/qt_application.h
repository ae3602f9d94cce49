#pragma once
// REzovazedavEzu: the program's application object. Its start-up is the whole life of the
// program: settings in, the main dialog run modally, settings out on OK.
#include <QApplication>
#include <functional>

#include "dialog/settings.h"

namespace vanta {

class CZaduderivaDlg;

class REzovazedavEzu : public QApplication {
  Q_OBJECT

 public:
  REzovazedavEzu(int& argc, char** argv);

  // Reads the seven settings from store into a new main dialog, runs it modally and writes them
  // back after OK. Returns the process's exit status (0); there is no event loop afterwards.
  int InitInstance(SettingsStore& store);

  // The same with the user's settings file.
  int InitInstance();

  // Called with the dialog before it runs (tests drive the window from here).
  void SetDialogHook(std::function<void(CZaduderivaDlg&)> hook) { dialogHook_ = std::move(hook); }

 private:
  std::function<void(CZaduderivaDlg&)> dialogHook_;
};

}  // namespace vanta
