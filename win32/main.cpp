// vantalink.exe: the Vanta7 update and setup window on Windows. It takes no options; what it
// remembers lives in the registry under HKEY_CURRENT_USER\Software\Norvane\vantaLink.
#include <windows.h>

#include "dialog/settings.h"
#include "update/image_catalogue.h"
#include "win32/win32_main_dialog.h"
#include "win32/win32_settings_store.h"

// REzovazedavEzu's start-up: settings in, the main dialog run modally, settings out on Ok.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  vanta::RegistrySettingsStore store;
  // The image directories are settled here, once, for the whole run.
  vanta::CZaduderivaDlg dialog(instance, nullptr, vanta::DefaultImageDirectories());
  vanta::LoadSettings(store, dialog.Fields());
  if (dialog.DoModal() == IDOK) vanta::SaveSettings(store, dialog.Fields());
  return 0;
}
