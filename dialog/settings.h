#pragma once
// The seven persisted settings, read before the dialog opens and written after OK.
#include <cstdint>
#include <string>

#include "dialog/dialog_view.h"
#include "setup/setup_block.h"

namespace vanta {

inline constexpr const char* kSettingsOrganisation = "Norvane";
inline constexpr const char* kSettingsApplication = "vantaLink";
inline constexpr const char* kSettingsSection = "Vanta7 PPC4xx";

// The five setup texts' keys, in the order they are read and written.
struct SetupTextKey {
  const char* key;
  std::string SetupTexts::*text;
};
inline constexpr SetupTextKey kSetupTextKeys[] = {{"VantaIP", &SetupTexts::probeIpText},
                                                  {"Subnet", &SetupTexts::subnetMaskText},
                                                  {"Gateway", &SetupTexts::gatewayText},
                                                  {"HostIP", &SetupTexts::configHostText},
                                                  {"ConfigFile", &SetupTexts::configFileText}};

// What the five texts are when nothing was saved: the first run's edit fields, and what the
// command line writes where neither an option nor the store gives a text.
SetupTexts DefaultSetupTexts();

// A per-user store of values addressed by section and key. Reads fall back to the default when
// the value is missing or the store cannot be read; writes report success, which start-up ignores.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual int32_t ReadInt(const std::string& section, const std::string& key, int32_t fallback) = 0;
  virtual std::string ReadText(const std::string& section, const std::string& key,
                               const std::string& fallback) = 0;
  virtual bool WriteInt(const std::string& section, const std::string& key, int32_t value) = 0;
  virtual bool WriteText(const std::string& section, const std::string& key,
                         const std::string& value) = 0;
};

// The store's file: UserConfigDirectory() + "/Norvane/vantaLink.conf", taken from the
// environment at every call. The window keeps it with QSettings; the command line reads it too.
std::string SettingsFilePath();

// Reads "Baudrate", "ComPort", "VantaIP", "Subnet", "Gateway", "HostIP", "ConfigFile" in that
// order into the fields, each with its default.
void LoadSettings(SettingsStore& store, DialogFields& fields);

// Writes the seven fields in the same order; a failed write is skipped and the rest still made.
void SaveSettings(SettingsStore& store, const DialogFields& fields);

}  // namespace vanta
