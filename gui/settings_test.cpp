// Settings: defaults on a clean account, what is stored and how, values
// stored with the wrong kind, and the round trip through the window.
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "gui/DragEdit.h"
#include "gui/Setting.h"
#include "gui/test_support.h"

using namespace zelm;
using namespace zelm::testing;

class SettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    sandbox_ = std::make_unique<SettingsSandbox>();
    home_ = std::make_unique<QTemporaryDir>();
    qputenv("HOME", home_->path().toLocal8Bit());
    qunsetenv("WINEPREFIX");
  }
  void cleanup() {
    TOpenDialog::SetRunner({});
    sandbox_.reset();
  }

  void cleanAccountShowsTheDefaults() {
    UserStandIn user;
    auto form = MakeWindow(user);
    QVERIFY(form->chkFastRecovery->isChecked());
    QVERIFY(form->chkRecoverUnattchedAttach->isChecked());
    QVERIFY(form->chkIgnoreZeroBlock->isChecked());
    QVERIFY(form->chkAlwaysIPMSubtree->isChecked());
    for (QCheckBox* level : {form->chkLevel1Recovery, form->chkLevel2Recovery, form->chkLevel3Recovery,
                             form->chkLevel4Recovery, form->chkLevel5Recovery}) {
      QVERIFY(level->isChecked());
    }
    QVERIFY(!form->chkHeuristicRecoverRoot->isChecked());
    QVERIFY(!form->chkSplitOversizePST->isChecked());
    QVERIFY(!form->chkRemoveEmptyFolder->isChecked());
    QVERIFY(!form->chkRecoverMultiPropInBatch->isChecked());
    QVERIFY(!form->chkOpenFixed->isChecked());
    QCOMPARE(form->txtPSTFileSizeLimit->value(), 1000);
    QVERIFY(!form->txtPSTFileSizeLimit->isEnabled());
    QCOMPARE(form->txtBufSize->value(), 512);
    QString temp = QDir::tempPath();
    if (!temp.endsWith(u'/')) temp += u'/';
    QCOMPARE(form->txtTempDir->text(), temp);
    QCOMPARE(form->Settings->OpenDirectory, home_->path() + u'/');
    QCOMPARE(form->Settings->OpenFilterIndex, 1);
    QCOMPARE(form->Settings->SaveFilterIndex, 1);
    QVERIFY(user.asked.isEmpty());
  }

  void openDirectoryPrefersTheWineOutlookFolder() {
    QTemporaryDir prefix;
    const QString user = qEnvironmentVariable("USER", QDir(home_->path()).dirName());
    const QString outlook = prefix.path() + QStringLiteral("/drive_c/users/") + user + QStringLiteral("/AppData/Local/Microsoft/Outlook");
    TSetting setting;
    qputenv("WINEPREFIX", prefix.path().toLocal8Bit());
    QCOMPARE(setting.DefaultOpenDirectory(), home_->path() + u'/');  // a prefix without Outlook files
    QVERIFY(QDir().mkpath(outlook));
    QCOMPARE(setting.DefaultOpenDirectory(), outlook + u'/');
    setting.Load();
    QCOMPARE(setting.OpenDirectory, outlook + u'/');
  }

  void booleansAreStoredAsZeroOrOneTexts() {
    TSetting setting;
    setting.Load();
    setting.FastRecovery = false;
    setting.SplitOversizePST = true;
    setting.PSTFileSizeLimit = 250;
    setting.TempDir = QStringLiteral("/var/tmp/a,b/");
    setting.Save();
    auto key = sandbox_->Key();
    QCOMPARE(key->value(QStringLiteral("FastRecovery")).toString(), QStringLiteral("0"));
    QCOMPARE(key->value(QStringLiteral("SplitOversizePST")).toString(), QStringLiteral("1"));
    QCOMPARE(key->value(QStringLiteral("Level3Recovery")).toString(), QStringLiteral("1"));
    QCOMPARE(key->value(QStringLiteral("PSTFileSizeLimit")).toInt(), 250);
    QCOMPARE(key->value(QStringLiteral("BufSize")).toInt(), 512);
    QCOMPARE(key->value(QStringLiteral("TempDir")).toString(), QStringLiteral("/var/tmp/a,b/"));
    QCOMPARE(key->childKeys().size(), 20);
    TSetting again;
    again.Load();
    QCOMPARE(again.TempDir, QStringLiteral("/var/tmp/a,b/"));
    QVERIFY(!again.FastRecovery);
    QVERIFY(again.SplitOversizePST);
  }

  void storedValuesOfEveryKind() {
    {
      auto key = sandbox_->Key();
      key->setValue(QStringLiteral("FastRecovery"), QStringLiteral("0"));  // text 0
      key->setValue(QStringLiteral("IgnoreZeroBlock"), 0);  // number 0
      key->setValue(QStringLiteral("HeuristicRecoverRoot"), QStringLiteral("1"));  // text 1
      key->setValue(QStringLiteral("RemoveEmptyFolder"), 1);  // number 1
      key->setValue(QStringLiteral("SplitOversizePST"), QStringLiteral("7"));  // any other number is on
      key->setValue(QStringLiteral("AlwaysIPMSubtree"), QStringLiteral("no"));  // not a number: default on
      key->setValue(QStringLiteral("RecoverMultiPropInBatch"), QStringLiteral("yes"));  // default off
      key->setValue(QStringLiteral("PSTFileSizeLimit"), QStringLiteral(" 250 "));
      key->setValue(QStringLiteral("BufSize"), QStringLiteral("lots"));
      key->setValue(QStringLiteral("OpenFilterIndex"), QByteArray("\x02", 1));  // binary: default
      key->setValue(QStringLiteral("SaveFilterIndex"), QStringLiteral("2"));
      key->setValue(QStringLiteral("OpenDirectory"), 17);  // a number under a text name: default
    }
    TSetting setting;
    setting.Load();
    QVERIFY(!setting.FastRecovery);
    QVERIFY(!setting.IgnoreZeroBlock);
    QVERIFY(setting.HeuristicRecoverRoot);
    QVERIFY(setting.RemoveEmptyFolder);
    QVERIFY(setting.SplitOversizePST);
    QVERIFY(setting.AlwaysIPMSubtree);
    QVERIFY(!setting.RecoverMultiPropInBatch);
    QCOMPARE(setting.PSTFileSizeLimit, 250);
    QCOMPARE(setting.BufSize, 512);
    QCOMPARE(setting.OpenFilterIndex, 1);
    QCOMPARE(setting.SaveFilterIndex, 2);
    QCOMPARE(setting.OpenDirectory, home_->path() + u'/');
  }

  void outOfRangeNumbersAreClampedByTheirBoxes() {
    {
      auto key = sandbox_->Key();
      key->setValue(QStringLiteral("PSTFileSizeLimit"), 0);
      key->setValue(QStringLiteral("BufSize"), 1000000);
    }
    UserStandIn user;
    auto form = MakeWindow(user);
    QCOMPARE(form->txtPSTFileSizeLimit->value(), 1);
    QCOMPARE(form->txtBufSize->value(), 65536);
  }

  void optionsSurviveARestart() {
    {
      UserStandIn user;
      auto form = MakeWindow(user);
      form->chkFastRecovery->setChecked(false);
      form->chkRemoveEmptyFolder->setChecked(true);
      form->chkLevel4Recovery->setChecked(false);
      form->chkSplitOversizePST->setChecked(true);
      QVERIFY(form->txtPSTFileSizeLimit->isEnabled());
      form->txtPSTFileSizeLimit->setValue(250);
      form->chkSplitOversizePST->setChecked(false);  // the limit is kept
      QVERIFY(!form->txtPSTFileSizeLimit->isEnabled());
      form->txtTempDir->setText(QStringLiteral("/scratch/"));
      form->txtBufSize->setValue(4096);
    }
    UserStandIn user;
    auto form = MakeWindow(user);
    QVERIFY(!form->chkFastRecovery->isChecked());
    QVERIFY(form->chkRemoveEmptyFolder->isChecked());
    QVERIFY(!form->chkLevel4Recovery->isChecked());
    QVERIFY(form->chkLevel5Recovery->isChecked());
    QVERIFY(!form->chkSplitOversizePST->isChecked());
    QCOMPARE(form->txtPSTFileSizeLimit->value(), 250);
    QVERIFY(!form->txtPSTFileSizeLimit->isEnabled());
    QCOMPARE(form->txtTempDir->text(), QStringLiteral("/scratch/"));
    QCOMPARE(form->txtBufSize->value(), 4096);
  }

  void nothingIsSavedBeforeTheWindowGoesAway() {
    UserStandIn user;
    auto form = MakeWindow(user);
    form->chkFastRecovery->setChecked(false);
    QVERIFY(!QFileInfo::exists(sandbox_->FileOf(QStringLiteral("zelm"))) ||
            !sandbox_->Key()->contains(QStringLiteral("FastRecovery")));
    form.reset();
    QCOMPARE(sandbox_->Key()->value(QStringLiteral("FastRecovery")).toString(), QStringLiteral("0"));
  }

  void aCopyUnderAnotherNameHasItsOwnKey() {
    {
      UserStandIn user;
      auto form = MakeWindow(user);
      form->chkHeuristicRecoverRoot->setChecked(true);
    }
    sandbox_->UseProgramName(QStringLiteral("zelm-copy.bin"));
    QCOMPARE(TZELMSetting::KeyName(), QStringLiteral("zelm-copy"));
    {
      UserStandIn user;
      auto form = MakeWindow(user);
      QVERIFY(!form->chkHeuristicRecoverRoot->isChecked());
    }
    QVERIFY(QFileInfo::exists(sandbox_->FileOf(QStringLiteral("zelm-copy"))));
    sandbox_->UseProgramName(QStringLiteral("zelm"));
    UserStandIn user;
    auto form = MakeWindow(user);
    QVERIFY(form->chkHeuristicRecoverRoot->isChecked());
  }

  void settingInformationOfASavedLog() {
    UserStandIn user;
    auto form = MakeWindow(user);
    form->chkSplitOversizePST->setChecked(true);
    form->txtPSTFileSizeLimit->setValue(300);
    form->chkLevel2Recovery->setChecked(false);
    form->txtTempDir->setText(QStringLiteral("/scratch/"));
    QStringList info;
    form->AddSettingInfo(info);
    QCOMPARE(info, QStringList({
                       QStringLiteral("Setting Information:"),
                       QStringLiteral("&Fast scan and recovery: Yes"),
                       QStringLiteral("Re&cover root folder heuristically: No"),
                       QStringLiteral("R&ecover unattached attachments: Yes"),
                       QStringLiteral("&Split output PST file when it is larger than: Yes"),
                       QStringLiteral("&Split output PST file when it is larger than 300"),
                       QStringLiteral("&Ignore zero data chunks: Yes"),
                       QStringLiteral("Al&ways put recovered items under interpersonal message root folder: Yes"),
                       QStringLiteral("Re&move empty folders(folders that don't contain any messages, objects and subfolders): No"),
                       QStringLiteral("Reco&ver multiple properties of an object in batch: No"),
                       QStringLiteral("&Use first advanced recovery method: Yes"),
                       QStringLiteral("U&se second advanced recovery method: No"),
                       QStringLiteral("Us&e third advanced recovery method: Yes"),
                       QStringLiteral("Use &forth advanced recovery method: Yes"),
                       QStringLiteral("Use f&ifth advanced recovery method: Yes"),
                       QStringLiteral("Dire&ctory for temporary files: /scratch/"),
                       QStringLiteral("I&nternal Processing Buffer Size: 512"),
                       Separator(),
                       QStringLiteral("End of Setting Information"),
                       Separator(),
                   }));
  }

  void sourceBrowseRemembersFolderAndFilter() {
    QString startedIn;
    int startedWith = 0;
    TOpenDialog::SetRunner([&](TOpenDialog& dialog) {
      startedIn = dialog.InitialDir;
      startedWith = dialog.FilterIndex;
      dialog.FileName = QStringLiteral("/mail/archive/box.ost");
      dialog.FilterIndex = 2;
      return true;
    });
    {
      UserStandIn user;
      auto form = MakeWindow(user);
      form->btnSrcMore->click();
      QCOMPARE(startedIn, home_->path() + u'/');
      QCOMPARE(startedWith, 1);
      QCOMPARE(form->txtSrcFile->text(), QStringLiteral("/mail/archive/box.ost"));
      QCOMPARE(form->txtDstFile->text(), QStringLiteral("/mail/archive/box_recovered.pst"));
    }
    UserStandIn user;
    auto form = MakeWindow(user);
    form->btnSrcMore->click();
    QCOMPARE(startedIn, QStringLiteral("/mail/archive/"));
    QCOMPARE(startedWith, 2);
  }

 private:
  std::unique_ptr<SettingsSandbox> sandbox_;
  std::unique_ptr<QTemporaryDir> home_;
};

QTEST_MAIN(SettingsTest)
#include "settings_test.moc"
