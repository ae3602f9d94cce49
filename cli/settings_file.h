#pragma once
// Reads the window's settings store (the INI file QSettings keeps under
// $XDG_CONFIG_HOME/Norvane/vantaLink.conf) without Qt, so the command line starts from the same
// port, speed and setup texts the window saved last.
#include <map>
#include <optional>
#include <string>

#include "dialog/settings.h"

namespace vanta::cli {

// Section name -> key -> value, names and values decoded.
using IniData = std::map<std::string, std::map<std::string, std::string>>;

// Parses QSettings' INI text: "[Vanta7%20PPC4xx]" sections with %XX escapes, key=value lines,
// quoted values with backslash escapes (\" \\ \n \t \xHHHH), "@@" and "@String(...)" forms; a
// comma outside quotes starts a list, of which the first element is kept. A UTF-8 byte-order mark
// in front of the text is passed over.
IniData ParseIni(const std::string& text);

// The seven persisted values: the two indexes as far as the store holds them, the setup texts
// as the window reads them (each missing one is its default).
struct StoredSettings {
  bool found = false;  // the file exists and was read
  std::optional<int> speedIndex, portIndex;
  SetupTexts setup = DefaultSetupTexts();
};

// The persisted values an INI text holds, as ParseIni gave them: found set, the values of the
// window's section, the defaults for the rest.
StoredSettings StoredSettingsOf(const IniData& data);

// Reads the store at path; "" is where the window keeps it: the system's own store where there is
// one (the registry on Windows), else SettingsFilePath(). An unreadable or corrupt file gives
// what could be read (never an error), as the window does.
StoredSettings ReadStoredSettings(const std::string& path = "");

}  // namespace vanta::cli
