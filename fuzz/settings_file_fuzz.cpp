// The window's settings file as the command line reads it at start-up: whatever the file holds,
// the read gives the values its section holds and the defaults for the rest, and never fails.
#include <string>

#include "cli/settings_file.h"
#include "fuzz/fuzz_support.h"

using namespace vanta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Parsed once: the file entry point only reads the file and takes the values from this parse.
  const cli::IniData ini = cli::ParseIni(std::string(reinterpret_cast<const char*>(data), size));
  const cli::StoredSettings stored = cli::StoredSettingsOf(ini);
  FUZZ_CHECK(stored.found);
  for (const auto& [section, values] : ini) {
    for (const auto& entry : values) FUZZ_CHECK(!entry.first.empty());
  }
  const auto section = ini.find(kSettingsSection);
  static const SetupTexts defaults = DefaultSetupTexts();
  for (const SetupTextKey& key : kSetupTextKeys) {
    const std::string* held = nullptr;
    if (section != ini.end()) {
      const auto it = section->second.find(key.key);
      if (it != section->second.end()) held = &it->second;
    }
    FUZZ_CHECK(stored.setup.*key.text == (held != nullptr ? *held : defaults.*key.text));
  }
  // A stored index is a number the section holds under its key.
  for (const auto& [key, index] :
       {std::pair{"Baudrate", stored.speedIndex}, std::pair{"ComPort", stored.portIndex}}) {
    if (!index) continue;
    FUZZ_CHECK(section != ini.end());
    const auto it = section->second.find(key);
    FUZZ_CHECK(it != section->second.end() && std::stoll(it->second) == *index);
  }
  return 0;
}
