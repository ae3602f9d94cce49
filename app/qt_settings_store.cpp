#include "app/qt_settings_store.h"

#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <cstdlib>
#include <limits>

namespace vanta {

namespace {

QString ToQt(const std::string& text) {
  return QString::fromStdString(text);
}

QString KeyPath(const std::string& section, const std::string& key) {
  return ToQt(section) + QLatin1Char('/') + ToQt(key);
}

// A file that QSettings cannot parse is moved aside before the first write, so the user's old
// file is kept for inspection instead of being silently merged into a new one.
void SetCorruptFileAside(const QString& path) {
  const QString aside = path + QStringLiteral(".corrupt");
  QFile::remove(aside);
  QFile::rename(path, aside);
}

}  // namespace

std::string SettingsFilePath() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.config";
  }
  return base + "/" + kSettingsOrganisation + "/" + kSettingsApplication + ".conf";
}

QtSettingsStore::QtSettingsStore(std::string filePath)
    : filePath_(filePath.empty() ? SettingsFilePath() : std::move(filePath)) {}

int32_t QtSettingsStore::ReadInt(const std::string& section, const std::string& key,
                                 int32_t fallback) {
  QSettings settings(ToQt(filePath_), QSettings::IniFormat);
  if (settings.status() != QSettings::NoError) return fallback;
  const QVariant value = settings.value(KeyPath(section, key));
  if (!value.isValid()) return fallback;
  bool ok = false;
  const qlonglong number = value.toString().trimmed().toLongLong(&ok);
  if (!ok || number < std::numeric_limits<int32_t>::min() ||
      number > std::numeric_limits<int32_t>::max())
    return fallback;
  return static_cast<int32_t>(number);
}

std::string QtSettingsStore::ReadText(const std::string& section, const std::string& key,
                                      const std::string& fallback) {
  QSettings settings(ToQt(filePath_), QSettings::IniFormat);
  if (settings.status() != QSettings::NoError) return fallback;
  const QVariant value = settings.value(KeyPath(section, key));
  if (!value.isValid()) return fallback;
  // An unquoted text with commas comes back from the INI reader as a list.
  if (value.typeId() == QMetaType::QStringList)
    return value.toStringList().join(QLatin1Char(',')).toStdString();
  return value.toString().toStdString();
}

namespace {

bool WriteValue(const QString& path, const QString& key, const QVariant& value) {
  {
    QSettings probe(path, QSettings::IniFormat);
    if (probe.status() == QSettings::FormatError) SetCorruptFileAside(path);
  }
  QSettings settings(path, QSettings::IniFormat);
  if (settings.status() != QSettings::NoError) return false;
  settings.setValue(key, value);
  settings.sync();
  return settings.status() == QSettings::NoError;
}

}  // namespace

bool QtSettingsStore::WriteInt(const std::string& section, const std::string& key, int32_t value) {
  return WriteValue(ToQt(filePath_), KeyPath(section, key), QVariant(static_cast<int>(value)));
}

bool QtSettingsStore::WriteText(const std::string& section, const std::string& key,
                                const std::string& value) {
  return WriteValue(ToQt(filePath_), KeyPath(section, key), QVariant(ToQt(value)));
}

}  // namespace vanta
