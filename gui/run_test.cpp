// The single-file run: the overwrite question, the log of a run through the
// engine, stopping, the result, the engine's reports, the options handed to
// the engine, and the command line.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "gui/DragEdit.h"
#include "gui/Shell.h"
#include "gui/test_support.h"

using namespace zelm;
using namespace zelm::testing;

namespace {

// A window whose engine is played by the test: it reports a count and
// returns success when the count is positive, or throws.
class ScriptedEngineForm : public TMainForm {
 public:
  std::int32_t count = 0;
  bool fail = false;
  int calls = 0;
  bool RunRecovery(const QString&, const QString&) override {
    ++calls;
    if (fail) throw std::runtime_error("disk on fire");
    std::uint8_t done = 100;
    OnMessage(vexl::Progress, &done);
    OnMessage(vexl::RecoveredCount, &count);
    return count > 0;
  }
};

}  // namespace

class RunTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
  void init() {
    sandbox_ = std::make_unique<SettingsSandbox>();
    work_ = std::make_unique<QTemporaryDir>();
  }
  void cleanup() {
    SetShellOpener({});
    work_.reset();
    sandbox_.reset();
  }

  void answeringNoToOverwriteLeavesThreeLines() {
    UserStandIn user;
    auto form = MakeWindow(user);
    const QString target = work_->path() + QStringLiteral("/exists.pst");
    QVERIFY(touch(target));
    form->txtSrcFile->setText(samplePath("unicode-18-items.ost"));
    form->txtDstFile->setText(target);
    user.answers << MsgResult::No;
    form->btnRepair->click();
    QCOMPARE(form->LogLines(), QStringList({QStringLiteral("Start recovery process ..."), Separator(),
                                            QStringLiteral("Recovery process is aborted.")}));
    QCOMPARE(form->txtRepairLog->toPlainText(), form->LogLines().join(u'\n'));
    QCOMPARE(user.asked.size(), 1);
    QCOMPARE(user.asked[0].text, QStringLiteral("A file named '%1' already exists. Overwrite it?").arg(target));
    QCOMPARE(user.asked[0].kind, MsgKind::Confirmation);
    QCOMPARE(user.asked[0].buttons, MsgButtons::YesNo);
    QCOMPARE(user.asked[0].caption, QStringLiteral("Confirm"));
    QVERIFY(!form->Running);
    QCOMPARE(form->btnRepair->text(), QStringLiteral("&Start Recovery"));
  }

  // The engine's scan finds nothing yet, so today the run ends with the
  // failure text; once it recovers items, the same run ends with the success
  // report in the result dialog. Both endings are checked for their shape.
  void runOnASampleLogsItsSteps() {
    UserStandIn user;
    auto form = MakeWindow(user);
    const QString source = samplePath("unicode-18-items.ost");
    const QString target = work_->path() + QStringLiteral("/out_recovered.pst");
    form->txtSrcFile->setText(source);
    form->txtDstFile->setText(target);
    QString captionDuringRun;
    QString skinDuringRun;
    bool timerDuringRun = false;
    QTimer::singleShot(0, form.get(), [&] {
      captionDuringRun = form->btnRepair->text();
      skinDuringRun = form->btnRepair->property("skin").toString();
      timerDuringRun = form->Timer->isActive();
    });
    form->btnRepair->click();

    QCOMPARE(captionDuringRun, QStringLiteral("&Stop Recovery"));
    QCOMPARE(skinDuringRun, QStringLiteral("stopbutton"));
    QVERIFY(timerDuringRun);
    const QStringList log = form->LogLines();
    QVERIFY2(log.size() >= 12, qPrintable(log.join(u'\n')));
    QCOMPARE(log.mid(0, 6),
             QStringList({QStringLiteral("Start recovery process ..."), Separator(),
                          QStringLiteral("File to be recovered: '%1'; File size = 271,360 bytes").arg(source),
                          QStringLiteral("Output recovered file as: '%1'").arg(target), Separator(),
                          QStringLiteral("Analyzing the source file ...")}));
    const qsizetype n = log.size();
    QCOMPARE(log[n - 6], Separator());
    QVERIFY(QRegularExpression(QStringLiteral(
                                   "^Consumed time: 0 hour\\(s\\) 0 minute\\(s\\) \\d+ second\\(s\\) \\d+ millisecond\\(s\\)\\.$"))
                .match(log[n - 5])
                .hasMatch());
    QCOMPARE(log.mid(n - 4, 3), QStringList({Separator(), QStringLiteral("Recovery process completes."), Separator()}));
    const QString closing = log.last();
    if (user.results.isEmpty()) {
      QCOMPARE(closing, QStringLiteral("Fail to recover file '%1'!").arg(source));
      QCOMPARE(user.asked.last().text, closing);
      QCOMPARE(user.asked.last().kind, MsgKind::Information);
    } else {
      QCOMPARE(user.results.size(), 1);
      QVERIFY(closing.contains(source));
      QVERIFY(closing.contains(QStringLiteral("Recovered_Group")));
      QVERIFY(user.results[0].startsWith(closing));
    }
    QCOMPARE(form->Gauge->value(), 100);
    QCOMPARE(form->labProgress->text(), QStringLiteral("100% completed"));
    QCOMPARE(form->labConsumedTime->text(), QStringLiteral("0 hour(s) 0 minute(s) "));
    QVERIFY(!form->Running);
    QVERIFY(!form->Timer->isActive());
    QCOMPARE(form->btnRepair->text(), QStringLiteral("&Start Recovery"));
    QCOMPARE(form->btnRepair->property("skin").toString(), QStringLiteral("startbutton"));
    QCOMPARE(form->RecoveredCount, 0);
  }

  void aMissingSourceStillRuns() {
    UserStandIn user;
    auto form = MakeWindow(user);
    const QString source = work_->path() + QStringLiteral("/gone.ost");
    form->txtSrcFile->setText(source);
    form->txtDstFile->setText(work_->path() + QStringLiteral("/gone_recovered.pst"));
    form->btnRepair->click();
    const QStringList log = form->LogLines();
    QCOMPARE(log.value(2), QStringLiteral("File to be recovered: '%1'; File size = 0 bytes").arg(source));
    const qsizetype error = log.indexOf(QRegularExpression(QStringLiteral("Error 1: Cannot open the file to be repaired\\..*")));
    QVERIFY2(error > 0, qPrintable(log.join(u'\n')));
    QCOMPARE(log.value(error - 1), Separator());
    QCOMPARE(log.value(error + 1), Separator());
    QCOMPARE(log.last(), QStringLiteral("Fail to recover file '%1'!").arg(source));
    QCOMPARE(user.asked.last().text, log.last());
    QVERIFY(user.results.isEmpty());
  }

  void stopDuringTheRun() {
    UserStandIn user;
    auto form = MakeWindow(user);
    form->txtSrcFile->setText(samplePath("exchange-2010.ost"));
    form->txtDstFile->setText(work_->path() + QStringLiteral("/stopped.pst"));
    bool pressed = false;
    QTimer::singleShot(0, form.get(), [&] {
      pressed = form->Running;
      form->btnRepair->click();  // the start button is the stop button now
    });
    form->btnRepair->click();
    QVERIFY(pressed);
    const QStringList log = form->LogLines();
    QCOMPARE(log.last(), QStringLiteral("User aborts the recovery process"));
    QCOMPARE(log.value(log.size() - 3), QStringLiteral("Recovery process completes."));
    QCOMPARE(user.asked.last().text, QStringLiteral("User aborts the recovery process"));
    QCOMPARE(user.asked.last().kind, MsgKind::Information);
    QCOMPARE(user.asked.last().buttons, MsgButtons::Ok);
    QVERIFY(user.results.isEmpty());
    QVERIFY(!form->Running);
    QCOMPARE(form->btnRepair->text(), QStringLiteral("&Start Recovery"));
    // The batch page's start button stops a run as well.
    form->Running = true;
    form->btnRepairFiles->click();
    QVERIFY(!form->Running);
  }

  void closingTheWindowDuringARunStopsItFirst() {
    UserStandIn user;
    auto form = MakeWindow(user);
    form->show();
    form->txtSrcFile->setText(samplePath("exchange-2010.ost"));
    form->txtDstFile->setText(work_->path() + QStringLiteral("/closed.pst"));
    bool closedAtOnce = true;
    QTimer::singleShot(0, form.get(), [&] { closedAtOnce = form->close(); });
    form->btnRepair->click();
    QVERIFY(!closedAtOnce);  // the engine call was still on the stack
    QCOMPARE(form->LogLines().last(), QStringLiteral("User aborts the recovery process"));
    QVERIFY(!form->isVisible());  // closed once the run had wound down
    QVERIFY(form->Terminated());
  }

  void successShowsTheResultDialog() {
    UserStandIn user;
    ScriptedEngineForm form;
    user.Attach(form);
    form.FormCreate({});
    QStringList opened;
    SetShellOpener([&](const QString& path) {
      opened << path;
      return true;
    });
    const QString target = work_->path() + QStringLiteral("/again.pst");
    QVERIFY(touch(target));
    form.txtSrcFile->setText(QStringLiteral("/mail/box.ost"));
    form.txtDstFile->setText(target);
    form.chkOpenFixed->setChecked(true);
    form.count = 18;
    user.answers << MsgResult::Yes;  // overwrite
    form.btnRepair->click();
    QCOMPARE(form.calls, 1);
    QCOMPARE(user.results.size(), 1);
    const QString report = form.LogLines().last();
    QVERIFY(report.contains(QStringLiteral("18")));
    QVERIFY(report.contains(QStringLiteral("/mail/box.ost")));
    QVERIFY(report.contains(QStringLiteral("Recovered_Group")));
    QCOMPARE(user.results[0],
             report + QStringLiteral(" Or use Outlook to open the recovered PST file and see the recovered items in it."));
    QCOMPARE(user.asked.size(), 1);  // the overwrite question only
    QVERIFY(opened.isEmpty());  // this product never opens the target
    QCOMPARE(form.RecoveredCount, 0);
  }

  void anExceptionStillRestoresTheIdleState() {
    UserStandIn user;
    ScriptedEngineForm form;
    user.Attach(form);
    form.FormCreate({});
    form.fail = true;
    form.txtSrcFile->setText(QStringLiteral("/mail/box.ost"));
    form.txtDstFile->setText(work_->path() + QStringLiteral("/x.pst"));
    form.btnRepair->click();
    QVERIFY(!form.Running);
    QVERIFY(!form.Timer->isActive());
    QCOMPARE(form.btnRepair->text(), QStringLiteral("&Start Recovery"));
    QCOMPARE(user.asked.last().kind, MsgKind::Error);
    QVERIFY(user.asked.last().text.contains(QStringLiteral("disk on fire")));
  }

  void engineReports() {
    UserStandIn user;
    auto form = MakeWindow(user);
    char separator[] = "-";
    char line[] = "Recover folder 'Inbox' ...";
    char error[] = "Error 2: General error. boom";
    char message[] = "Share violation when opening the source file 'a.ost'.\nPlease close any other applications accessing the file and try again.";
    std::int32_t count = 7;
    QVERIFY(!form->OnMessage(vexl::LogLine, line));
    QVERIFY(!form->OnMessage(vexl::LogLine, separator));
    QVERIFY(!form->OnMessage(vexl::ErrorText, error));
    QVERIFY(!form->OnMessage(vexl::SourceFile, line));
    QVERIFY(!form->OnMessage(vexl::RecoveredCount, &count));
    QVERIFY(!form->OnMessage(12345, nullptr));
    QCOMPARE(form->LogLines(), QStringList({QString::fromLatin1(line), Separator(), Separator(),
                                            QString::fromLatin1(error), Separator()}));
    QCOMPARE(form->RecoveredCount, 7);
    QVERIFY(user.asked.isEmpty());
    QVERIFY(!form->OnMessage(vexl::ShowMessage, message));
    QCOMPARE(user.asked.size(), 1);
    QCOMPARE(user.asked[0].text, QString::fromLatin1(message));
    QCOMPARE(user.asked[0].kind, MsgKind::Information);
    QCOMPARE(user.asked[0].buttons, MsgButtons::Ok);

    std::uint8_t percent = 42;
    QVERIFY(!form->OnMessage(vexl::Progress, &percent));
    QCOMPARE(form->Gauge->value(), 42);
    QCOMPARE(form->labProgress->text(), QStringLiteral("42% completed"));

    form->Running = true;
    QVERIFY(!form->OnMessage(vexl::QueryAbort, nullptr));
    form->Running = false;
    QVERIFY(form->OnMessage(vexl::QueryAbort, nullptr));

    QVERIFY(!form->Terminated());
    form->OnMessage(vexl::CloseMainWindow, nullptr);
    QVERIFY(form->Terminated());
  }

  void optionsHandedToTheEngine() {
    UserStandIn user;
    auto form = MakeWindow(user);
    form->chkFastRecovery->setChecked(false);
    form->chkHeuristicRecoverRoot->setChecked(true);
    form->chkSplitOversizePST->setChecked(true);
    form->txtPSTFileSizeLimit->setValue(250);
    form->chkLevel3Recovery->setChecked(false);
    form->chkRemoveEmptyFolder->setChecked(true);
    form->cmbSrcFormat->setCurrentIndex(1);
    form->cmbDstFormat->setCurrentIndex(2);
    form->cmbBatchSrcFormat->setCurrentIndex(2);
    form->cmbBatchDstFormat->setCurrentIndex(1);
    vexl::EngineOptions o{};
    form->BuildEngineOptions(o);
    QCOMPARE(int(o.SrcFormat), 1);
    QCOMPARE(int(o.DstFormat), 2);
    QCOMPARE(o.FastRecovery, 0);
    QCOMPARE(o.HeuristicRecoverRoot, -1);
    QCOMPARE(o.RecoverUnattchedAttach, -1);
    QCOMPARE(o.SplitOversizePST, -1);
    QCOMPARE(o.PSTFileSizeLimit, 250);
    QCOMPARE(o.IgnoreZeroBlock, -1);
    QCOMPARE(o.AlwaysIPMSubtree, -1);
    QCOMPARE(o.RemoveEmptyFolder, -1);
    QCOMPARE(o.RecoverMultiPropInBatch, 0);
    QCOMPARE(o.Level1Recovery, -1);
    QCOMPARE(o.Level2Recovery, -1);
    QCOMPARE(o.Level3Recovery, 0);
    QCOMPARE(o.Level4Recovery, -1);
    QCOMPARE(o.Level5Recovery, -1);
    QCOMPARE(int(o.SourceKind), 1);
    form->btnBatchRepairTab->click();
    form->BuildEngineOptions(o);
    QCOMPARE(int(o.SrcFormat), 2);
    QCOMPARE(int(o.DstFormat), 1);
    form->btnOptionsTab->click();
    form->BuildEngineOptions(o);
    QCOMPARE(int(o.SrcFormat), 0);
    QCOMPARE(int(o.DstFormat), 0);
    form->btnAboutTab->click();
    form->BuildEngineOptions(o);
    QCOMPARE(int(o.SrcFormat), 0);

    // A first start hands the engine what the shared defaults say.
    UserStandIn fresh;
    sandbox_->UseProgramName(QStringLiteral("zelm-fresh"));
    auto first = MakeWindow(fresh);
    vexl::EngineOptions mine{};
    first->BuildEngineOptions(mine);
    const vexl::EngineOptions shared = vexl::client::defaultEngineOptions();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&mine), sizeof mine),
             QByteArray(reinterpret_cast<const char*>(&shared), sizeof shared));
  }

  void elapsedTimeLabelTicksByTheMinute() {
    UserStandIn user;
    auto form = MakeWindow(user);
    form->Running = true;
    form->StartTime = QDateTime::currentDateTime().addSecs(-(67 * 60 + 20));
    form->TimerTimer();
    QCOMPARE(form->labConsumedTime->text(), QStringLiteral("1 hour(s) 7 minute(s) "));
    form->Running = false;
    form->StartTime = QDateTime::currentDateTime().addSecs(-3 * 3600);
    form->TimerTimer();
    QCOMPARE(form->labConsumedTime->text(), QStringLiteral("1 hour(s) 7 minute(s) "));
  }

  void commandLineRunsAndExitsWithE() {
    const QString source = work_->path() + QStringLiteral("/box.ost");
    QVERIFY(QFile::copy(samplePath("unicode-18-items.ost"), source));
    UserStandIn user;
    auto form = MakeWindow(user, {QStringLiteral("-e"), source});
    QVERIFY(form->isVisible());
    QCOMPARE(form->txtSrcFile->text(), source);
    QCOMPARE(form->txtDstFile->text(), work_->path() + QStringLiteral("/box_recovered.pst"));
    QCOMPARE(form->LogLines().value(0), QStringLiteral("Start recovery process ..."));
    QVERIFY(form->LogLines().contains(QStringLiteral("Recovery process completes.")));
    QVERIFY(!form->chkOpenFixed->isChecked());
    QVERIFY(form->Terminated());
  }

  void openSwitchIsRememberedAtTheEnd() {
    const QString source = work_->path() + QStringLiteral("/box.ost");
    QVERIFY(QFile::copy(samplePath("ansi-calendar.pst"), source));
    {
      UserStandIn user;
      auto form = MakeWindow(user, {source, QStringLiteral("/O")});
      QVERIFY(form->chkOpenFixed->isChecked());
      QVERIFY(!form->Terminated());
      QVERIFY(form->LogLines().contains(QStringLiteral("Recovery process completes.")));
    }
    QCOMPARE(sandbox_->Key()->value(QStringLiteral("OpenFixed")).toString(), QStringLiteral("1"));
  }

  void commandLineWithoutAFile() {
    UserStandIn user;
    const QString missing = work_->path() + QStringLiteral("/nothing.ost");
    auto form = MakeWindow(user, {missing, QStringLiteral("-E")});
    QCOMPARE(user.asked.size(), 1);
    QCOMPARE(user.asked[0].text, QStringLiteral("Cannot open file %1").arg(missing));
    QCOMPARE(user.asked[0].kind, MsgKind::Error);
    QVERIFY(form->LogLines().isEmpty());
    QVERIFY(!form->Terminated());  // stays open

    UserStandIn onlySwitches;
    auto other = MakeWindow(onlySwitches, {QStringLiteral("-E")});
    QCOMPARE(onlySwitches.asked.value(0).text, QStringLiteral("Cannot open file "));
  }

 private:
  std::unique_ptr<SettingsSandbox> sandbox_;
  std::unique_ptr<QTemporaryDir> work_;
};

QTEST_MAIN(RunTest)
#include "run_test.moc"
