#include "dialog/settings.h"

#include "platform/files.h"

namespace vanta {

SetupTexts DefaultSetupTexts() {
  SetupTexts texts;
  texts.probeIpText = "111.111.111.111";
  texts.subnetMaskText = "255.255.255.0";
  texts.gatewayText = "255.255.255.255";
  texts.configHostText = "111.111.111.111";
  texts.configFileText = "";
  return texts;
}

std::string SettingsFilePath() {
  return UserConfigDirectory() + "/" + kSettingsOrganisation + "/" + kSettingsApplication + ".conf";
}

void LoadSettings(SettingsStore& store, DialogFields& fields) {
  const std::string section = kSettingsSection;
  fields.speedIndex = store.ReadInt(section, "Baudrate", 0);
  fields.portIndex = store.ReadInt(section, "ComPort", 0);
  const SetupTexts defaults = DefaultSetupTexts();
  for (const SetupTextKey& text : kSetupTextKeys) {
    fields.setup.*text.text = store.ReadText(section, text.key, defaults.*text.text);
  }
}

void SaveSettings(SettingsStore& store, const DialogFields& fields) {
  // Each write's report is ignored on purpose: one failed key must not keep the others unsaved.
  const std::string section = kSettingsSection;
  store.WriteInt(section, "Baudrate", fields.speedIndex);
  store.WriteInt(section, "ComPort", fields.portIndex);
  for (const SetupTextKey& text : kSetupTextKeys) {
    store.WriteText(section, text.key, fields.setup.*text.text);
  }
}

}  // namespace vanta
