#include "app/qt_application.h"

#include <memory>

#include "app/qt_main_dialog.h"
#include "app/qt_settings_store.h"
#include "update/image_catalogue.h"

namespace vanta {

REzovazedavEzu::REzovazedavEzu(int& argc, char** argv) : QApplication(argc, argv) {
  setOrganizationName(QString::fromLatin1(kSettingsOrganisation));
  setApplicationName(QString::fromLatin1(kSettingsApplication));
}

int REzovazedavEzu::InitInstance(SettingsStore& store) {
  // The image directories are settled here, once, for the whole run.
  auto dialog = std::make_unique<CZaduderivaDlg>(nullptr, DefaultImageDirectories());
  LoadSettings(store, dialog->Fields());
  if (dialogHook_) dialogHook_(*dialog);
  const int result = dialog->exec();
  if (result == QDialog::Accepted) SaveSettings(store, dialog->Fields());
  dialog.reset();
  return 0;
}

int REzovazedavEzu::InitInstance() {
  QtSettingsStore store;
  return InitInstance(store);
}

}  // namespace vanta
