// Helpers shared by the window program's tests: a private settings store, a
// stand-in for the user at message boxes and result dialogs, and a window
// created the way the program creates it.
#pragma once

#include <QFile>
#include <QLabel>
#include <QList>
#include <QLocale>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include "gui/FileNames.h"
#include "gui/MainFrm.h"
#include "gui/SkinMessage.h"
#include "gui/ZELMMgfm.h"
#include "gui/ZELMSetting.h"

namespace zelm::testing {

// Settings go to a temporary folder, under a program name of the test's
// choosing, so no test sees another's values or the user's own.
class SettingsSandbox {
 public:
  SettingsSandbox() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
    UseProgramName(QStringLiteral("zelm"));
  }
  ~SettingsSandbox() { SetProgramFilePath(QString()); }
  SettingsSandbox(const SettingsSandbox&) = delete;
  SettingsSandbox& operator=(const SettingsSandbox&) = delete;

  void UseProgramName(const QString& fileName) { SetProgramFilePath(dir_.path() + QStringLiteral("/bin/") + fileName); }
  QString Path() const { return dir_.path(); }
  // The settings file of program `name`, as the window writes it.
  QString FileOf(const QString& name) const { return dir_.path() + u'/' + name + QStringLiteral(".conf"); }
  std::unique_ptr<QSettings> Key(const QString& name = QStringLiteral("zelm")) const {
    auto key = std::make_unique<QSettings>(FileOf(name), QSettings::IniFormat);
    key->beginGroup(QStringLiteral("Misc"));
    return key;
  }

 private:
  QTemporaryDir dir_;
};

// Answers every message box with the next queued answer (OK when none is
// queued) and remembers what was asked.
class UserStandIn {
 public:
  void Attach(TZELMMainForm& form) {
    form.bsSkinMessage->SetResponder([this](const MessageRequest& request) {
      asked.append(request);
      return answers.isEmpty() ? MsgResult::Ok : answers.takeFirst();
    });
    form.SetModalRunner([this](TZELMMsgForm& dialog) { results << dialog.labMsg->text(); });
  }

  QList<MessageRequest> asked;
  QList<MsgResult> answers;
  QStringList results;  // texts of the result dialogs shown
};

// A window after its start-up steps, with a stand-in user attached first.
inline std::unique_ptr<TMainForm> MakeWindow(UserStandIn& user, const QStringList& arguments = {}) {
  auto form = std::make_unique<TMainForm>();
  user.Attach(*form);
  form->FormCreate(arguments);
  return form;
}

// A file of the shared samples.
inline QString samplePath(const char* name) {
  return QStringLiteral(BRELLIN_SAMPLES_DIR "/") + QString::fromLatin1(name);
}

// Creates (or replaces) `path` with one byte.
inline bool touch(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

inline QString Separator() { return QStringLiteral("--------------------------------------------------------"); }

}  // namespace zelm::testing
