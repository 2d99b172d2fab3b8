// The batch page: adding with duplicates, removing by button and key, the
// run with its statuses and summary, the overwrite question and its "to all"
// answers, stopping, list edits during a run, and a batch through the engine.
#include <QFile>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <stdexcept>

#include "gui/test_support.h"

using namespace zelm;
using namespace zelm::testing;

namespace {

// A window whose engine is played by the test: a source whose name holds
// "bad" fails, any other succeeds and leaves its target behind. `during`
// runs inside each recovery, as a handler would while the engine pumps
// messages.
class ScriptedBatchForm : public TMainForm {
 public:
  QStringList recovered;  // sources, in the order they were run
  std::function<void(const QString& source)> during;
  bool RunRecovery(const QString& source, const QString& target) override {
    recovered << source;
    AddLog(QStringLiteral("engine line"));
    if (during) during(source);
    if (source.contains(QStringLiteral("throws"))) throw std::runtime_error("disk on fire");
    if (source.contains(QStringLiteral("bad"))) return false;
    return touch(target);
  }
};

std::unique_ptr<ScriptedBatchForm> MakeScriptedWindow(UserStandIn& user) {
  auto form = std::make_unique<ScriptedBatchForm>();
  user.Attach(*form);
  form->FormCreate({});
  form->MainTabChange(form->btnBatchRepairTab);
  return form;
}

QStringList column(QTreeWidget* list, int c) {
  QStringList texts;
  for (int row = 0; row < list->topLevelItemCount(); ++row) texts << list->topLevelItem(row)->text(c);
  return texts;
}

QStringList messages(const UserStandIn& user) {
  QStringList texts;
  for (const MessageRequest& r : user.asked) texts << r.text;
  return texts;
}

}  // namespace

class BatchTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
  void init() {
    sandbox_ = std::make_unique<SettingsSandbox>();
    work_ = std::make_unique<QTemporaryDir>();
  }
  void cleanup() {
    TOpenDialog::SetRunner({});
    work_.reset();
    sandbox_.reset();
  }

  void duplicatesAreRefusedWhateverTheirCase() {
    UserStandIn user;
    auto form = MakeWindow(user);
    form->AddFileToList(QStringLiteral("/mail/Box.ost"));
    QCOMPARE(column(form->FileList, 0), QStringList({QStringLiteral("/mail/Box.ost")}));
    QCOMPARE(column(form->FileList, 1), QStringList({QStringLiteral("/mail/Box_recovered.pst")}));
    QCOMPARE(column(form->FileList, 2), QStringList({QStringLiteral("Not Recovered")}));

    // Through the open dialog: several files at once, one of them already
    // listed in another letter case.
    bool multiSelectAsked = false;
    TOpenDialog::SetRunner([&](TOpenDialog& dialog) {
      multiSelectAsked = dialog.MultiSelect;
      dialog.Files = {QStringLiteral("/MAIL/box.OST"), QStringLiteral("/mail/box.pst"), QStringLiteral("/mail/box.ost")};
      dialog.FileName = dialog.Files.first();
      dialog.FilterIndex = 2;
      return true;
    });
    form->btnAddFiles->click();
    QVERIFY(multiSelectAsked);
    QVERIFY(!form->OpenDialog.MultiSelect);  // restored after the call
    QCOMPARE(form->Settings->OpenFilterIndex, 2);
    QCOMPARE(user.asked.size(), 2);
    for (const MessageRequest& r : user.asked) {
      QCOMPARE(r.text, QStringLiteral("File already exists in the list"));
      QCOMPARE(r.kind, MsgKind::Error);
    }
    // Two sources may share a target; both are kept.
    QCOMPARE(column(form->FileList, 0), QStringList({QStringLiteral("/mail/Box.ost"), QStringLiteral("/mail/box.pst")}));
    QCOMPARE(column(form->FileList, 1),
             QStringList({QStringLiteral("/mail/Box_recovered.pst"), QStringLiteral("/mail/box_recovered.pst")}));
  }

  void rowsGoByButtonAndKey() {
    UserStandIn user;
    auto form = MakeWindow(user);
    for (const char* name : {"/a.ost", "/b.ost", "/c.ost", "/d.ost"}) form->AddFileToList(QString::fromLatin1(name));
    form->FileList->topLevelItem(0)->setSelected(true);
    form->FileList->topLevelItem(2)->setSelected(true);
    form->btnRemoveFiles->click();
    QCOMPARE(column(form->FileList, 0), QStringList({QStringLiteral("/b.ost"), QStringLiteral("/d.ost")}));
    form->FileList->topLevelItem(1)->setSelected(true);
    QTest::keyClick(form->FileList, Qt::Key_Delete);
    QCOMPARE(column(form->FileList, 0), QStringList({QStringLiteral("/b.ost")}));
    form->AddFileToList(QStringLiteral("/e.ost"));
    QTest::keyClick(form->FileList, Qt::Key_Delete, Qt::ShiftModifier);
    QCOMPARE(form->FileList->topLevelItemCount(), 0);
    form->AddFileToList(QStringLiteral("/f.ost"));
    form->btnRemoveAll->click();
    QCOMPARE(form->FileList->topLevelItemCount(), 0);

    form->btnRepairFiles->click();
    QCOMPARE(messages(user), QStringList({QStringLiteral("Please add files to the list first")}));
    QCOMPARE(user.asked.last().kind, MsgKind::Information);
    QVERIFY(!form->Running);
  }

  void statusesAndSummaryAfterABatchWithOneFailure() {
    UserStandIn user;
    auto form = MakeScriptedWindow(user);
    const QString dir = work_->path();
    for (const char* name : {"/one.ost", "/bad.ost", "/three.ost"}) form->AddFileToList(dir + QString::fromLatin1(name));
    form->FileList->topLevelItem(0)->setText(2, QStringLiteral("Successful"));  // from an earlier batch
    QStringList statusesAtFirstFile;
    bool timerDuringRun = false;
    QString captionDuringRun;
    form->during = [&](const QString& source) {
      if (!source.endsWith(QStringLiteral("one.ost"))) return;
      statusesAtFirstFile = column(form->FileList, 2);
      timerDuringRun = form->Timer->isActive();
      captionDuringRun = form->btnRepairFiles->text();
    };
    form->btnRepairFiles->click();

    QCOMPARE(statusesAtFirstFile, QStringList(3, QStringLiteral("Not Recovered")));
    QVERIFY(timerDuringRun);
    QCOMPARE(captionDuringRun, QStringLiteral("&Stop Recovery"));
    QCOMPARE(column(form->FileList, 2), QStringList({QStringLiteral("Successful"), QStringLiteral("Failed"),
                                                     QStringLiteral("Successful")}));
    QCOMPARE(messages(user), QStringList({QStringLiteral("2 file(s) recovered successfully")}));
    QCOMPARE(user.asked.last().kind, MsgKind::Information);
    QVERIFY(user.results.isEmpty());  // no per-file result dialog
    QVERIFY(form->LogLines().isEmpty());
    QVERIFY(form->txtRepairLog->toPlainText().isEmpty());
    QVERIFY(!form->Running);
    QVERIFY(!form->Timer->isActive());
    QCOMPARE(form->btnRepairFiles->text(), QStringLiteral("&Start Recovery"));
    QCOMPARE(form->btnRepairFiles->property("skin").toString(), QStringLiteral("startbutton"));

    // Every file failing still ends with the summary.
    auto failing = MakeScriptedWindow(user);
    failing->AddFileToList(dir + QStringLiteral("/bad1.ost"));
    failing->AddFileToList(dir + QStringLiteral("/bad2.ost"));
    failing->btnRepairFiles->click();
    QCOMPARE(user.asked.last().text, QStringLiteral("0 file(s) recovered successfully"));
    QCOMPARE(column(failing->FileList, 2), QStringList(2, QStringLiteral("Failed")));

    // A recovery that raises ends the batch with its error; the window is
    // idle again and the list editable.
    auto raising = MakeScriptedWindow(user);
    raising->AddFileToList(dir + QStringLiteral("/throws.ost"));
    raising->AddFileToList(dir + QStringLiteral("/after.ost"));
    raising->btnRepairFiles->click();
    QCOMPARE(user.asked.last().text, QStringLiteral("disk on fire"));
    QCOMPARE(user.asked.last().kind, MsgKind::Error);
    QCOMPARE(column(raising->FileList, 2), QStringList({QStringLiteral("Failed"), QStringLiteral("Not Recovered")}));
    QVERIFY(!raising->Running);
    QVERIFY(!raising->BatchRunning());
    QVERIFY(raising->btnRemoveAll->isEnabled());
  }

  void overwriteAnswersNoToAllYesToAllAndCancel() {
    const QString dir = work_->path();
    const QStringList sources = {dir + QStringLiteral("/a.ost"), dir + QStringLiteral("/b.ost"),
                                 dir + QStringLiteral("/c.ost")};
    const auto prepare = [&](UserStandIn& user) {
      auto form = MakeScriptedWindow(user);
      for (const QString& s : sources) {
        form->AddFileToList(s);
        touch(MakeTargetName(s));
      }
      return form;
    };

    {  // No to All: asked once, every later existing target skipped.
      UserStandIn user;
      auto form = prepare(user);
      user.answers << MsgResult::NoToAll;
      form->btnRepairFiles->click();
      QVERIFY(form->recovered.isEmpty());
      QCOMPARE(messages(user), QStringList({QStringLiteral("A file named 'a_recovered.pst' already exists. Overwrite it?"),
                                            QStringLiteral("0 file(s) recovered successfully")}));
      QCOMPARE(user.asked[0].kind, MsgKind::Confirmation);
      QCOMPARE(user.asked[0].buttons, MsgButtons::YesNoCancelAll);
      QCOMPARE(column(form->FileList, 2), QStringList(3, QStringLiteral("Not Recovered")));
    }
    {  // No for the first, then Yes to All for the rest without asking again.
      UserStandIn user;
      auto form = prepare(user);
      user.answers << MsgResult::No << MsgResult::YesToAll;
      form->btnRepairFiles->click();
      QCOMPARE(form->recovered, sources.mid(1));
      QCOMPARE(user.asked.size(), 3);
      QCOMPARE(user.asked[1].text, QStringLiteral("A file named 'b_recovered.pst' already exists. Overwrite it?"));
      QCOMPARE(user.asked.last().text, QStringLiteral("2 file(s) recovered successfully"));
      QCOMPARE(column(form->FileList, 2), QStringList({QStringLiteral("Not Recovered"), QStringLiteral("Successful"),
                                                       QStringLiteral("Successful")}));
    }
    {  // Cancel (also Escape) ends the batch at once; the summary counts what was done.
      UserStandIn user;
      auto form = prepare(user);
      QFile::remove(MakeTargetName(sources[0]));
      user.answers << MsgResult::Cancel;
      form->btnRepairFiles->click();
      QCOMPARE(form->recovered, sources.mid(0, 1));
      QCOMPARE(user.asked.size(), 2);
      QCOMPARE(user.asked.last().text, QStringLiteral("1 file(s) recovered successfully"));
      QCOMPARE(column(form->FileList, 2), QStringList({QStringLiteral("Successful"), QStringLiteral("Not Recovered"),
                                                       QStringLiteral("Not Recovered")}));
    }
    {  // Two sources with one target: the second asks once the first made it.
      UserStandIn user;
      auto form = MakeScriptedWindow(user);
      form->AddFileToList(dir + QStringLiteral("/box.ost"));
      form->AddFileToList(dir + QStringLiteral("/box.pst"));
      QFile::remove(dir + QStringLiteral("/box_recovered.pst"));
      user.answers << MsgResult::Yes;
      form->btnRepairFiles->click();
      QCOMPARE(messages(user), QStringList({QStringLiteral("A file named 'box_recovered.pst' already exists. Overwrite it?"),
                                            QStringLiteral("2 file(s) recovered successfully")}));
    }
  }

  void stopEndsAfterTheCurrentFile() {
    UserStandIn user;
    auto form = MakeScriptedWindow(user);
    const QString dir = work_->path();
    for (const char* name : {"/one.ost", "/bad-stopped.ost", "/three.ost", "/four.ost"}) {
      form->AddFileToList(dir + QString::fromLatin1(name));
    }
    form->during = [&](const QString& source) {
      if (source.contains(QStringLiteral("stopped"))) form->btnRepairFiles->click();  // the stop request
    };
    form->btnRepairFiles->click();
    QCOMPARE(form->recovered.size(), 2);
    QCOMPARE(column(form->FileList, 2), QStringList({QStringLiteral("Successful"), QStringLiteral("Aborted"),
                                                     QStringLiteral("Not Recovered"), QStringLiteral("Not Recovered")}));
    QCOMPARE(user.asked.last().text, QStringLiteral("1 file(s) recovered successfully"));
    QVERIFY(!form->Running);
  }

  void theListCannotChangeDuringARun() {
    UserStandIn user;
    auto form = MakeScriptedWindow(user);
    const QString dir = work_->path();
    for (const char* name : {"/one.ost", "/two.ost", "/three.ost"}) form->AddFileToList(dir + QString::fromLatin1(name));
    bool buttonsDisabled = false;
    form->during = [&](const QString& source) {
      if (!source.endsWith(QStringLiteral("one.ost"))) return;
      buttonsDisabled = !form->btnAddFiles->isEnabled() && !form->btnSearchFiles->isEnabled() &&
                        !form->btnRemoveFiles->isEnabled() && !form->btnRemoveAll->isEnabled();
      QVERIFY(form->BatchRunning());
      form->FileList->selectAll();
      form->btnRemoveAllClick();
      form->btnRemoveFilesClick();
      QTest::keyClick(form->FileList, Qt::Key_Delete);
      QTest::keyClick(form->FileList, Qt::Key_Delete, Qt::ShiftModifier);
      form->AddFileToList(dir + QStringLiteral("/late.ost"));
      form->btnAddFilesClick();
      form->btnSearchFilesClick();
    };
    TOpenDialog::SetRunner([](TOpenDialog&) {
      qFatal("the open dialog must not show during a batch");
      return false;
    });
    form->btnRepairFiles->click();
    QVERIFY(buttonsDisabled);
    QCOMPARE(form->recovered, QStringList({dir + QStringLiteral("/one.ost"), dir + QStringLiteral("/two.ost"),
                                           dir + QStringLiteral("/three.ost")}));
    QCOMPARE(column(form->FileList, 2), QStringList(3, QStringLiteral("Successful")));
    QVERIFY(!form->BatchRunning());
    QVERIFY(form->btnAddFiles->isEnabled() && form->btnRemoveAll->isEnabled());
    form->btnRemoveAll->click();
    QCOMPARE(form->FileList->topLevelItemCount(), 0);
  }

  void aBatchThroughTheEngine() {
    UserStandIn user;
    auto form = MakeWindow(user);
    form->MainTabChange(form->btnBatchRepairTab);
    const QString sample = work_->path() + QStringLiteral("/sample.ost");
    QVERIFY(QFile::copy(samplePath("unicode-18-items.ost"), sample));
    form->AddFileToList(work_->path() + QStringLiteral("/missing.ost"));
    form->AddFileToList(sample);
    form->btnRepairFiles->click();
    const QStringList statuses = column(form->FileList, 2);
    QCOMPARE(statuses[0], QStringLiteral("Failed"));
    QCOMPARE(statuses[1], QStringLiteral("Successful"));
    QVERIFY(QFileInfo(work_->path() + QStringLiteral("/sample_recovered.pst")).size() > 0);
    QCOMPARE(user.asked.last().text, QStringLiteral("1 file(s) recovered successfully"));
    QVERIFY(form->LogLines().isEmpty());
    QCOMPARE(form->Gauge->value(), 100);
  }

 private:
  std::unique_ptr<SettingsSandbox> sandbox_;
  std::unique_ptr<QTemporaryDir> work_;
};

QTEST_MAIN(BatchTest)
#include "batch_test.moc"
