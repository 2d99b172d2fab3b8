#include "gui/ZELMSetting.h"

#include <QSettings>
#include <QVariant>
#include <limits>

#include "gui/FileNames.h"

namespace zelm {

QString TZELMSetting::KeyName() { return ProgramBaseName(ProgramFilePath()); }

std::unique_ptr<QSettings> TZELMSetting::OpenKey() {
  auto key = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, KeyName(), QString());
  key->beginGroup(QString::fromLatin1(kSection));
  return key;
}

bool ParseDecimal(const QString& text, std::int32_t& value) {
  const QString t = text.trimmed();
  qsizetype i = 0;
  bool negative = false;
  if (i < t.size() && (t.at(i) == u'+' || t.at(i) == u'-')) negative = t.at(i++) == u'-';
  if (i == t.size()) return false;
  std::int64_t number = 0;
  for (; i < t.size(); ++i) {
    const QChar c = t.at(i);
    if (c < u'0' || c > u'9') return false;
    number = number * 10 + (c.unicode() - u'0');
    if (number > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return false;
  }
  if (negative) number = -number;
  if (number > std::numeric_limits<std::int32_t>::max()) return false;
  value = static_cast<std::int32_t>(number);
  return true;
}

std::int32_t TZELMSetting::ReadInteger(QSettings& key, const char* name, std::int32_t defaultValue) {
  const QVariant v = key.value(QString::fromLatin1(name));
  switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      // A DWORD above 2^31 reads as the negative number of the same bits.
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(v.toULongLong()));
    case QMetaType::QString: {
      std::int32_t value = 0;
      return ParseDecimal(v.toString(), value) ? value : defaultValue;
    }
    default:
      return defaultValue;
  }
}

bool TZELMSetting::ReadBool(QSettings& key, const char* name, bool defaultValue) {
  return ReadInteger(key, name, defaultValue ? 1 : 0) != 0;
}

QString TZELMSetting::ReadString(QSettings& key, const char* name, const QString& defaultValue) {
  const QVariant v = key.value(QString::fromLatin1(name));
  switch (v.typeId()) {
    case QMetaType::QString:
      return v.toString();
    case QMetaType::QStringList:
      // A hand-edited value with unquoted commas comes back as a list.
      return v.toStringList().join(u',');
    default:
      return defaultValue;
  }
}

void TZELMSetting::WriteInteger(QSettings& key, const char* name, std::int32_t value) {
  key.setValue(QString::fromLatin1(name), value);
}

void TZELMSetting::WriteBool(QSettings& key, const char* name, bool value) {
  key.setValue(QString::fromLatin1(name), value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TZELMSetting::WriteString(QSettings& key, const char* name, const QString& value) {
  key.setValue(QString::fromLatin1(name), value);
}

void TZELMSetting::Load() {
  auto key = OpenKey();
  OpenDirectory = ReadString(*key, "OpenDirectory", DefaultOpenDirectory());
  OpenFilterIndex = ReadInteger(*key, "OpenFilterIndex", 1);
  SaveFilterIndex = ReadInteger(*key, "SaveFilterIndex", 1);
}

void TZELMSetting::Save() {
  auto key = OpenKey();
  WriteString(*key, "OpenDirectory", OpenDirectory);
  WriteInteger(*key, "OpenFilterIndex", OpenFilterIndex);
  WriteInteger(*key, "SaveFilterIndex", SaveFilterIndex);
}

}  // namespace zelm
