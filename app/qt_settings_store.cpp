#include "app/qt_settings_store.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
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

// A file that is not INI text is moved aside before the first write, so the user's old file is
// kept to be looked at instead of being silently merged into a new one.
void SetCorruptFileAside(const QString& path) {
  const QString aside = path + QStringLiteral(".corrupt");
  QFile::remove(aside);
  QFile::rename(path, aside);
}

// Every line blank, a comment, a closed [section] or a key=value pair, and no NUL byte. Checked
// here rather than trusted to QSettings, whose status is not reported again for a file it has
// already parsed once in this process.
bool LooksLikeIni(const QByteArray& data) {
  if (data.contains('\0')) return false;
  for (const QByteArray& raw : data.split('\n')) {
    const QByteArray line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(';') || line.startsWith('#')) continue;
    if (line.startsWith('[')) {
      if (!line.endsWith(']')) return false;
      continue;
    }
    if (!line.contains('=')) return false;
  }
  return true;
}

enum class FileState { Missing, Good, Unreadable, Corrupt };

FileState ExamineFile(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists() && !info.isSymLink()) return FileState::Missing;
  if (!info.isFile()) return FileState::Unreadable;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return FileState::Unreadable;
  QByteArray data = file.readAll();
  if (file.error() != QFileDevice::NoError) return FileState::Unreadable;
  // Editors on other systems put a UTF-8 byte-order mark in front; it is no part of the text.
  if (data.startsWith("\xEF\xBB\xBF")) data.remove(0, 3);
  return LooksLikeIni(data) ? FileState::Good : FileState::Corrupt;
}

}  // namespace

QtSettingsStore::QtSettingsStore(std::string filePath)
    : filePath_(filePath.empty() ? SettingsFilePath() : std::move(filePath)) {}

int32_t QtSettingsStore::ReadInt(const std::string& section, const std::string& key,
                                 int32_t fallback) {
  const QString path = ToQt(filePath_);
  if (ExamineFile(path) != FileState::Good) return fallback;
  QSettings settings(path, QSettings::IniFormat);
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
  const QString path = ToQt(filePath_);
  if (ExamineFile(path) != FileState::Good) return fallback;
  QSettings settings(path, QSettings::IniFormat);
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
  const FileState state = ExamineFile(path);
  if (state == FileState::Unreadable) return false;  // never replace what cannot be read
  if (state == FileState::Corrupt) SetCorruptFileAside(path);
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
