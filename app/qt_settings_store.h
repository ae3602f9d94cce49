#pragma once
// The settings store on QSettings: an INI file per user, ~/.config/Norvane/vantaLink.conf.
#include <string>

#include "dialog/settings.h"

namespace vanta {

class QtSettingsStore : public SettingsStore {
 public:
  // filePath "" means SettingsFilePath() at construction.
  explicit QtSettingsStore(std::string filePath = "");

  // The stored number; fallback when missing, not a 32-bit number, or the file is unreadable or
  // corrupt.
  int32_t ReadInt(const std::string& section, const std::string& key, int32_t fallback) override;
  // The stored text (UTF-8); fallback when missing or the file is unreadable or corrupt.
  std::string ReadText(const std::string& section, const std::string& key,
                       const std::string& fallback) override;
  // Stores the value and writes the file at once; false when it could not be written.
  bool WriteInt(const std::string& section, const std::string& key, int32_t value) override;
  bool WriteText(const std::string& section, const std::string& key,
                 const std::string& value) override;

  const std::string& FilePath() const { return filePath_; }

 private:
  std::string filePath_;
};

}  // namespace vanta
