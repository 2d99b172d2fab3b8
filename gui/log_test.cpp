// Save Log: the file with and without the system report, its bytes, the
// dialog's check box and how long it keeps its state, the report's line
// formats, and a file that cannot be written.
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "engine/core/code_page.h"
#include "gui/test_support.h"

extern char** environ;

using namespace zelm;
using namespace zelm::testing;

namespace {

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList linesOf(const QByteArray& bytes) {
  QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

// Runs `act` on the file dialog once it shows (polling, since it opens
// inside the call under test).
void whenDialogShows(std::function<void(QFileDialog*)> act, int triesLeft = 3000) {
  QTimer::singleShot(10, [act = std::move(act), triesLeft]() mutable {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* dialog = qobject_cast<QFileDialog*>(w); dialog != nullptr && dialog->isVisible()) {
        act(dialog);
        return;
      }
    }
    if (triesLeft > 0) whenDialogShows(std::move(act), triesLeft - 1);
  });
}

}  // namespace

class LogTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    vexl::setSystemAnsiCodePage(1252);
  }
  void init() {
    sandbox_ = std::make_unique<SettingsSandbox>();
    work_ = std::make_unique<QTemporaryDir>();
  }
  void cleanup() {
    TSaveDialog::SetRunner({});
    work_.reset();
    sandbox_.reset();
  }

  void savedWithoutTheReport() {
    UserStandIn user;
    auto form = MakeWindow(user);
    const QString path = work_->path() + QStringLiteral("/plain.log");
    TSaveDialog::SetRunner([&](TSaveDialog& dialog) {
      dialog.FileName = path;
      return true;
    });
    form->SaveLogDialog.SetIncludeSysInfo(false);
    form->btnSaveLog->click();
    QCOMPARE(readAll(path), QByteArray());  // an empty log gives an empty file

    form->AddLog(QStringLiteral("Start recovery process ..."));
    form->AddSeparator();
    form->AddLog(QStringLiteral("Caf\u00e9 \u20ac \u65e5"));
    form->btnSaveLog->click();
    QCOMPARE(readAll(path), QByteArray("Start recovery process ...\r\n") + Separator().toLatin1() +
                                QByteArray("\r\nCaf\xe9 \x80 ?\r\n"));

    // Cancel writes nothing.
    QVERIFY(QFile::remove(path));
    TSaveDialog::SetRunner([](TSaveDialog&) { return false; });
    form->btnSaveLog->click();
    QVERIFY(!QFile::exists(path));
  }

  void savedWithTheReportFirst() {
    UserStandIn user;
    auto form = MakeWindow(user);
    const QString path = work_->path() + QStringLiteral("/full.log");
    QString filter;
    QString defaultExt;
    TSaveDialog::SetRunner([&](TSaveDialog& dialog) {
      filter = dialog.Filter;
      defaultExt = dialog.DefaultExt;
      dialog.FileName = path;
      return true;
    });
    QVERIFY(form->SaveLogDialog.IncludeSysInfo());  // checked at first
    form->btnSaveLog->click();
    QCOMPARE(filter, QStringLiteral("Log files (*.log)|*.log"));
    QCOMPARE(defaultExt, QStringLiteral("log"));
    const QStringList empty = linesOf(readAll(path));
    // The whole report and nothing after it.
    QCOMPARE(empty.first(), Separator());
    QCOMPARE(empty.value(1), QStringLiteral(" Version Information:"));
    QCOMPARE(empty.value(2), QStringLiteral("File Version: ") + form->labVersion->text());
    QCOMPARE(empty.value(3), QStringLiteral("Product Version: ") + form->labVersion->text());
    QCOMPARE(empty.mid(empty.size() - 3), QStringList({Separator(), QStringLiteral("End of Setting Information"),
                                                       Separator()}));
    const qsizetype systemEnd = empty.indexOf(QStringLiteral("End of System Information"));
    QVERIFY(systemEnd > 0);
    QCOMPARE(empty.value(systemEnd - 1), Separator());
    QCOMPARE(empty.value(systemEnd + 1), Separator());
    QCOMPARE(empty.value(systemEnd + 2), QStringLiteral("Setting Information:"));
    QCOMPARE(empty.value(systemEnd + 3), QStringLiteral("&Fast scan and recovery: Yes"));

    form->AddLog(QStringLiteral("Start recovery process ..."));
    form->AddLog(QStringLiteral("Recovery process completes."));
    form->btnSaveLog->click();
    const QStringList full = linesOf(readAll(path));
    QCOMPARE(full.mid(0, empty.size()).size(), empty.size());
    QCOMPARE(full.mid(empty.size()), QStringList({QStringLiteral("Start recovery process ..."),
                                                  QStringLiteral("Recovery process completes.")}));
  }

  // The exact formats are the client's to test; here: the report as this
  // computer fills it, with the user's number format.
  void theReportsLineFormats() {
    UserStandIn user;
    auto form = MakeWindow(user);
    QStringList report;
    form->BuildSystemInfo(report);
    const auto has = [&](const char* pattern) {
      return report.indexOf(QRegularExpression(QString::fromLatin1(pattern))) >= 0;
    };
    QVERIFY(has("^Operating System: .+ \\d+\\.\\d\\d+\\.\\d+$"));
    QVERIFY(has("^Temporary Directory: /.*/$"));
    QVERIFY(has("^Total physical memory: \\d{1,3}(,\\d{3})+ bytes$"));
    QVERIFY(has("^/.*, Fixed Drive, Total Disk Spaces: \\d{1,3}(,\\d{3})* bytes, "
                "Free Disk Spaces: \\d{1,3}(,\\d{3})* bytes\\.$"));
    const qsizetype env = report.indexOf(QStringLiteral("Environment Information:"));
    QVERIFY(env > 0);
    QCOMPARE(report.value(env + 1), QString::fromLocal8Bit(environ[0]));
    QCOMPARE(report.mid(report.size() - 3),
             QStringList({Separator(), QStringLiteral("End of System Information"), Separator()}));
  }

  void theBoxKeepsTheUsersChoiceInTheRealDialog() {
    UserStandIn user;
    auto form = MakeWindow(user);
    const QString path = work_->path() + QStringLiteral("/chosen");
    QString caption;
    QString hint;
    bool belowTheDialog = false;
    int shownChecked = -1;  // how the box showed when the dialog opened
    // A new name each time: the dialog asks before replacing a file.
    const auto answer = [&](bool uncheck, const QString& path) {
      shownChecked = -1;
      whenDialogShows([&, uncheck, path](QFileDialog* dialog) {
        // No test macro in here: returning early would leave the dialog open.
        auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("SystemInfoCheckBox"));
        if (box != nullptr) {
          shownChecked = box->isChecked() ? 1 : 0;
          caption = box->text();
          hint = box->toolTip();
          auto* buttons = dialog->findChild<QWidget*>(QStringLiteral("buttonBox"));
          belowTheDialog = buttons != nullptr && box->mapTo(dialog, QPoint(0, 0)).y() >=
                                                     buttons->mapTo(dialog, QPoint(0, 0)).y();
          if (uncheck) box->setChecked(false);
        }
        // Closed as OK without the dialog's own checks, which race with its
        // folder model filling in the background.
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
      });
    };
    answer(true, path);
    form->btnSaveLog->click();
    QCOMPARE(shownChecked, 1);
    QCOMPARE(caption, QStringLiteral("Include S&ystem Information"));
    QCOMPARE(hint, QStringLiteral("Include system information in the log file"));
    QVERIFY(belowTheDialog);
    QVERIFY(!form->SaveLogDialog.IncludeSysInfo());
    QCOMPARE(form->SaveLogDialog.FileName, path + QStringLiteral(".log"));  // the default extension
    QCOMPARE(readAll(path + QStringLiteral(".log")), QByteArray());
    QVERIFY(form->SaveLogDialog.SystemInfoCheckBox == nullptr);  // gone with the dialog

    // Saving again later in the same run: still unchecked.
    answer(false, path + QStringLiteral("-again.log"));
    form->btnSaveLog->click();
    QCOMPARE(shownChecked, 0);
    QVERIFY(!form->SaveLogDialog.IncludeSysInfo());
  }

  void aFileThatCannotBeWritten() {
    UserStandIn user;
    auto form = MakeWindow(user);
    form->AddLog(QStringLiteral("kept"));
    const QString path = work_->path() + QStringLiteral("/missing/folder/x.log");
    TSaveDialog::SetRunner([&](TSaveDialog& dialog) {
      dialog.FileName = path;
      return true;
    });
    form->btnSaveLog->click();
    QCOMPARE(user.asked.size(), 1);
    QCOMPARE(user.asked[0].kind, MsgKind::Error);
    QVERIFY(user.asked[0].text.contains(path));
    QCOMPARE(form->LogLines(), QStringList({QStringLiteral("kept")}));
  }

 private:
  std::unique_ptr<SettingsSandbox> sandbox_;
  std::unique_ptr<QTemporaryDir> work_;
};

QTEST_MAIN(LogTest)
#include "log_test.moc"
