#pragma once
// The settings store in the registry: the key Software\<organisation>\<application>\<section>
// of HKEY_CURRENT_USER, the two numbers as 32-bit values (REG_DWORD), the texts as strings
// (REG_SZ).
#include <string>

#include "dialog/settings.h"

namespace vanta {

class RegistrySettingsStore : public SettingsStore {
 public:
  // root: the key under HKEY_CURRENT_USER the sections lie in.
  explicit RegistrySettingsStore(std::string root = std::string("Software\\") +
                                                    kSettingsOrganisation + "\\" +
                                                    kSettingsApplication);

  // The stored number; fallback when missing, not a REG_DWORD, or the key cannot be opened.
  int32_t ReadInt(const std::string& section, const std::string& key, int32_t fallback) override;
  // The stored text; fallback when missing, not a REG_SZ, or the key cannot be opened.
  std::string ReadText(const std::string& section, const std::string& key,
                       const std::string& fallback) override;
  bool WriteInt(const std::string& section, const std::string& key, int32_t value) override;
  bool WriteText(const std::string& section, const std::string& key,
                 const std::string& value) override;

 private:
  std::string root_;
};

}  // namespace vanta
