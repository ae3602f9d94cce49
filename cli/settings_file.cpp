#include "cli/settings_file.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

#include "dialog/settings.h"
#include "platform/system_settings.h"

namespace vanta::cli {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// QSettings writes section and key names with %XX for anything outside [A-Za-z0-9_-]. The text
// between escapes is copied a run at a time: most names hold none.
std::string DecodePercent(std::string_view text) {
  std::string out;
  for (size_t i = 0;;) {
    const size_t escape = text.find('%', i);
    if (escape == std::string_view::npos) {
      out.append(text.substr(i));
      return out;
    }
    out.append(text.substr(i, escape - i));
    if (escape + 2 < text.size() && HexValue(text[escape + 1]) >= 0 &&
        HexValue(text[escape + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[escape + 1]) * 16 + HexValue(text[escape + 2]));
      i = escape + 3;
    } else {
      out += '%';
      i = escape + 1;
    }
  }
}

// Views into the text read: a line and its parts are looked at in place, and only the names and
// values kept are copied.
std::string_view Trim(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  const size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

std::string DecodeValue(std::string_view raw) {
  std::string out;
  bool quoted = false;
  // The text between quotes, commas and escapes is copied a run at a time.
  for (size_t i = 0; i < raw.size();) {
    const size_t special = raw.find_first_of("\",\\", i);
    out.append(raw.substr(i, special == std::string_view::npos ? special : special - i));
    if (special == std::string_view::npos) break;
    i = special + 1;
    const char c = raw[special];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',') {
      if (!quoted) break;  // a list: the first element stands for the text
      out += c;
    } else if (i == raw.size()) {
      out += c;  // a backslash that ends the value stands for itself
    } else {
      const char e = raw[i++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case '0':
          out += '\0';
          break;
        case 'x': {
          uint32_t code = 0;
          size_t digits = 0;
          while (digits < 4 && i < raw.size() && HexValue(raw[i]) >= 0) {
            code = code * 16 + static_cast<uint32_t>(HexValue(raw[i++]));
            ++digits;
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          out += e;
          break;
      }
    }
  }
  if (out.rfind("@@", 0) == 0) return out.substr(1);
  if (out.rfind("@String(", 0) == 0 && out.size() >= 9 && out.back() == ')')
    return out.substr(8, out.size() - 9);
  return out;
}

std::optional<int> ParseInt(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  // The whole text must be the number: a 0x00 inside it ends what strtol sees, not the text.
  if (end != text.c_str() + text.size() || value < INT32_MIN || value > INT32_MAX)
    return std::nullopt;
  return static_cast<int>(value);
}

// The persisted values among a section's keys, each missing text its default.
void TakeValues(const std::map<std::string, std::string>& values, StoredSettings& settings) {
  auto text_of = [&](const char* key) -> const std::string* {
    auto it = values.find(key);
    return it == values.end() ? nullptr : &it->second;
  };
  if (auto v = text_of("Baudrate")) settings.speedIndex = ParseInt(*v);
  if (auto v = text_of("ComPort")) settings.portIndex = ParseInt(*v);
  for (const SetupTextKey& text : kSetupTextKeys) {
    if (auto v = text_of(text.key)) settings.setup.*text.text = *v;
  }
}

}  // namespace

IniData ParseIni(const std::string& text) {
  IniData data;
  std::string section = "General";
  // The section's keys, looked up at its first key (a section without keys stays out of data).
  std::map<std::string, std::string>* values = nullptr;
  std::string_view rest = text;
  // A UTF-8 byte-order mark (some editors write one) is no part of the first line.
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
  while (!rest.empty()) {
    const size_t lineEnd = rest.find('\n');
    const std::string_view line = rest.substr(0, lineEnd);
    rest.remove_prefix(lineEnd == std::string_view::npos ? rest.size() : lineEnd + 1);
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
    if (trimmed.front() == '[') {
      const size_t close = trimmed.find(']');
      section = DecodePercent(
          trimmed.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      values = nullptr;
      continue;
    }
    const size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) continue;
    std::string key = DecodePercent(Trim(trimmed.substr(0, equals)));
    if (key.empty()) continue;
    if (values == nullptr) values = &data[section];
    (*values)[std::move(key)] = DecodeValue(Trim(trimmed.substr(equals + 1)));
  }
  return data;
}

StoredSettings StoredSettingsOf(const IniData& data) {
  StoredSettings settings;
  settings.found = true;
  const auto section = data.find(kSettingsSection);
  if (section != data.end()) TakeValues(section->second, settings);
  return settings;
}

StoredSettings ReadStoredSettings(const std::string& path) {
  // Where the system keeps the window's settings itself (the registry on Windows), they are read
  // from there; else from the window's file.
  std::map<std::string, std::string> values;
  if (path.empty() &&
      ReadSystemSettings(kSettingsOrganisation, kSettingsApplication, kSettingsSection, values)) {
    StoredSettings settings;
    settings.found = true;
    TakeValues(values, settings);
    return settings;
  }
  std::ifstream file(path.empty() ? SettingsFilePath() : path, std::ios::binary);
  if (!file) return {};
  std::stringstream text;
  text << file.rdbuf();
  return StoredSettingsOf(ParseIni(text.str()));
}

}  // namespace vanta::cli
