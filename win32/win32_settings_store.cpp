#include "win32/win32_settings_store.h"

#include <windows.h>

#include <vector>

#include "win32/win32_text.h"

namespace vanta {

namespace {

// A text value larger than this is not a setting anyone typed; it reads as the default.
constexpr DWORD kLongestText = 64 * 1024;

// The section's key, made with its parents when missing, as every operation of the store does;
// where it cannot be made (no write access), an existing key is still read.
class SectionKey {
 public:
  SectionKey(const std::string& root, const std::string& section) {
    const std::wstring path = Widen(root + "\\" + section);
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                        nullptr) != ERROR_SUCCESS &&
        RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key_) != ERROR_SUCCESS)
      key_ = nullptr;
  }
  ~SectionKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  SectionKey(const SectionKey&) = delete;
  SectionKey& operator=(const SectionKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

RegistrySettingsStore::RegistrySettingsStore(std::string root) : root_(std::move(root)) {}

int32_t RegistrySettingsStore::ReadInt(const std::string& section, const std::string& key,
                                       int32_t fallback) {
  SectionKey k(root_, section);
  if (k.get() == nullptr) return fallback;
  DWORD type = 0, value = 0, size = sizeof(value);
  if (RegQueryValueExW(k.get(), Widen(key).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                       &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(value))
    return fallback;
  return static_cast<int32_t>(value);
}

std::string RegistrySettingsStore::ReadText(const std::string& section, const std::string& key,
                                            const std::string& fallback) {
  SectionKey k(root_, section);
  if (k.get() == nullptr) return fallback;
  const std::wstring name = Widen(key);
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ || size > kLongestText)
    return fallback;
  // Room for a terminator the stored value may lack.
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegQueryValueExW(k.get(), name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(buffer.data()), &got) != ERROR_SUCCESS ||
      type != REG_SZ)
    return fallback;
  std::wstring text(buffer.data(), got / sizeof(wchar_t));
  // The text ends at its first terminator.
  const size_t end = text.find(L'\0');
  if (end != std::wstring::npos) text.resize(end);
  return Narrow(text);
}

bool RegistrySettingsStore::WriteInt(const std::string& section, const std::string& key,
                                     int32_t value) {
  SectionKey k(root_, section);
  if (k.get() == nullptr) return false;
  const DWORD data = static_cast<DWORD>(value);
  return RegSetValueExW(k.get(), Widen(key).c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&data), sizeof(data)) == ERROR_SUCCESS;
}

bool RegistrySettingsStore::WriteText(const std::string& section, const std::string& key,
                                      const std::string& value) {
  SectionKey k(root_, section);
  if (k.get() == nullptr) return false;
  const std::wstring text = Widen(value);
  return RegSetValueExW(k.get(), Widen(key).c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace vanta
