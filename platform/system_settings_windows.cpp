#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/system_settings.h"

namespace vanta {

bool ReadSystemSettings(const std::string& organisation, const std::string& application,
                        const std::string& section, std::map<std::string, std::string>& values) {
  const std::string path = "Software\\" + organisation + "\\" + application + "\\" + section;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD longestName = 0, longestData = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                   &longestData, nullptr, nullptr);
  std::vector<char> name(longestName + 2);
  std::vector<BYTE> data(longestData + 2);
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size() - 1);
    DWORD type = 0;
    const LONG result =
        RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) continue;  // changed under us: the rest still counts
    const std::string valueName(name.data(), nameSize);
    if (type == REG_DWORD && dataSize == 4) {
      uint32_t number = 0;
      for (int i = 3; i >= 0; --i) number = number << 8 | data[static_cast<size_t>(i)];
      values[valueName] = std::to_string(static_cast<int32_t>(number));
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      std::string text(reinterpret_cast<const char*>(data.data()), dataSize);
      while (!text.empty() && text.back() == '\0') text.pop_back();
      values[valueName] = text;
    }
  }
  RegCloseKey(key);
  return true;
}

}  // namespace vanta
