// Settings every program of the family remembers: the last folder and the
// filters of the file dialogs. They live in the user's settings under a key
// named after the program file, section "Misc".
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

class QSettings;

namespace zelm {

class TZELMSetting {
 public:
  TZELMSetting() = default;
  virtual ~TZELMSetting() = default;
  TZELMSetting(const TZELMSetting&) = delete;
  TZELMSetting& operator=(const TZELMSetting&) = delete;

  QString OpenDirectory;
  std::int32_t OpenFilterIndex = 1;
  std::int32_t SaveFilterIndex = 1;

  virtual QString DefaultOpenDirectory() const = 0;
  virtual void Save();
  virtual void Load();

  // The key of the running program: its file name without folder and without
  // what follows the last ".". On Windows this is HKCU\Software\<name>; on
  // this platform the user's configuration file <name>.conf.
  static QString KeyName();
  static constexpr const char* kSection = "Misc";

 protected:
  // Opens the key, positioned in the section. Each Load and Save opens it
  // afresh and closes it when done, so nothing is cached between them.
  static std::unique_ptr<QSettings> OpenKey();

  // Integers are stored as numbers; a text holding a decimal number is read as
  // well, any other text or type gives the default.
  static std::int32_t ReadInteger(QSettings& key, const char* name, std::int32_t defaultValue);
  // Booleans are texts "0"/"1", read as integers: true when not 0.
  static bool ReadBool(QSettings& key, const char* name, bool defaultValue);
  static QString ReadString(QSettings& key, const char* name, const QString& defaultValue);
  static void WriteInteger(QSettings& key, const char* name, std::int32_t value);
  static void WriteBool(QSettings& key, const char* name, bool value);
  static void WriteString(QSettings& key, const char* name, const QString& value);
};

// A decimal number with an optional sign and surrounding blanks, in 32 bits.
bool ParseDecimal(const QString& text, std::int32_t& value);

}  // namespace zelm
