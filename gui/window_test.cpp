// The main window: its pages and texts, source and target fields, the file
// pickers, the format warning, help, and the result dialog's layout.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "gui/DragEdit.h"
#include "gui/Look.h"
#include "gui/MsgFrm.h"
#include "gui/Shell.h"
#include "gui/ZELMPanel.h"
#include "gui/test_support.h"

using namespace zelm;
using namespace zelm::testing;

namespace {

QWidget* child(QWidget& form, const char* name) {
  QWidget* w = form.findChild<QWidget*>(QString::fromLatin1(name));
  if (w == nullptr) qWarning("no component %s", name);
  return w;
}

QString textOf(QWidget& form, const char* name) {
  QWidget* w = child(form, name);
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  return QStringLiteral("<no text>");
}

// Window coordinates of a component's rectangle.
QRect inWindow(QWidget& form, QWidget* w) { return QRect(w->mapTo(&form, QPoint(0, 0)), w->size()); }

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { sandbox_ = std::make_unique<SettingsSandbox>(); }
  void cleanup() {
    TSaveDialog::SetRunner({});
    SetShellOpener({});
    SetSelectDirectoryRunner({});
    sandbox_.reset();
  }

  void windowIsFixedAndTitled() {
    UserStandIn user;
    auto form = MakeWindow(user);
    QCOMPARE(form->size(), QSize(765, 475));
    QCOMPARE(form->minimumSize(), form->maximumSize());
    QCOMPARE(form->windowTitle(), QStringLiteral("Brellin"));
    QCOMPARE(form->labTitle->text(), QStringLiteral("Brellin"));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$")).match(form->labVersion->text()).hasMatch());
    QCOMPARE(form->labVersionPrompt->text(), QStringLiteral("Version:"));
    QCOMPARE(form->Timer->interval(), 60000);
    QVERIFY(!form->Timer->isActive());
    QVERIFY(!form->Running);
  }

  void captionsAndAccelerators_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    const char* rows[][2] = {
        {"btnRepairTab", "&Recovery"},
        {"btnBatchRepairTab", "&Batch Recovery"},
        {"btnOptionsTab", "&Options"},
        {"btnAboutTab", "&About"},
        {"btnOptionsSubTab", "O&ptions"},
        {"btnAdvOptionsSubTab", "A&dvanced Options"},
        {"labSelSrcFile", "Sele&ct OST file to be recovered:"},
        {"btnSrcMore", "..."},
        {"labSrcFormat", "&Format:"},
        {"labSelDstFile", "O&utput recovered file as:"},
        {"btnDstMore", "..."},
        {"labDstFormat", "For&mat:"},
        {"btnRepair", "&Start Recovery"},
        {"bsSkinLabel1", "Recovery process log:"},
        {"btnSaveLog", "Save &Log"},
        {"btnHelp", "&Help"},
        {"labProgress", "0% completed"},
        {"labConsumedTimePrompt", "Time consumed: "},
        {"labConsumedTime", "0 hour(s) 0 minute(s) "},
        {"labSrcFormatBatch", "Source &File Format:"},
        {"labDstFormatBatch", "&Target File Format:"},
        {"btnRepairFiles", "&Start Recovery"},
        {"Label9", "&List of files to be recovered:"},
        {"btnAddFiles", "A&dd Files"},
        {"btnSearchFiles", "S&earch Files"},
        {"btnRemoveFiles", "Re&move Files"},
        {"btnRemoveAll", "Remo&ve All"},
        {"chkOpenFixed", "&Open the fixed file when finished"},
        {"chkFastRecovery", "&Fast scan and recovery"},
        {"chkHeuristicRecoverRoot", "Re&cover root folder heuristically"},
        {"chkRecoverUnattchedAttach", "R&ecover unattached attachments"},
        {"chkSplitOversizePST", "&Split output PST file when it is larger than"},
        {"labPSTFileSizeUnit", "MB"},
        {"chkIgnoreZeroBlock", "&Ignore zero data chunks"},
        {"chkAlwaysIPMSubtree", "Al&ways put recovered items under interpersonal message root folder"},
        {"chkRemoveEmptyFolder",
         "Re&move empty folders(folders that don't contain any messages, objects and subfolders)"},
        {"chkRecoverMultiPropInBatch", "Reco&ver multiple properties of an object in batch"},
        {"grpAdvancedRecovery", "Advanced Recovery"},
        {"chkLevel1Recovery", "&Use first advanced recovery method"},
        {"chkLevel2Recovery", "U&se second advanced recovery method"},
        {"chkLevel3Recovery", "Us&e third advanced recovery method"},
        {"chkLevel4Recovery", "Use &forth advanced recovery method"},
        {"chkLevel5Recovery", "Use f&ifth advanced recovery method"},
        {"labTempDir", "Dire&ctory for temporary files:"},
        {"labBufSize", "I&nternal Processing Buffer Size:"},
        {"labBufSizeUnit", "Bytes"},
    };
    for (const auto& row : rows) QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromUtf8(row[1]);
  }
  void captionsAndAccelerators() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    UserStandIn user;
    auto form = MakeWindow(user);
    QCOMPARE(textOf(*form, name.toLatin1().constData()), caption);
  }

  void hints_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("hint");
    const char* rows[][2] = {
        {"btnRepairTab", "Recover a single OST file"},
        {"btnBatchRepairTab", "Recover a batch of OST files"},
        {"btnOptionsTab", "Set recovery options"},
        {"btnAboutTab", "Detailed information about the product"},
        {"txtSrcFile", "Input OST file to be recovered"},
        {"btnSrcMore", "Browse and select OST file to be recovered"},
        {"btnSrcSearch", "Search OST file to be recovered on local computer"},
        {"cmbSrcFormat", "Select version of OST file to be recovered(if known)"},
        {"txtDstFile", "Input output PST file name"},
        {"btnDstMore", "Browse and select output PST file name"},
        {"cmbDstFormat", "Select output PST file version"},
        {"btnAddFiles", "Add one or multiple OST files to list"},
        {"btnSearchFiles", "Search and add one or multiple OST files to list"},
        {"btnRemoveFiles", "Remove selected OST files from list"},
        {"btnRemoveAll", "Remove all OST files in list"},
    };
    for (const auto& row : rows) QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromUtf8(row[1]);
  }
  void hints() {
    QFETCH(QString, name);
    QFETCH(QString, hint);
    UserStandIn user;
    auto form = MakeWindow(user);
    QCOMPARE(child(*form, name.toLatin1().constData())->toolTip(), hint);
  }

  void labelsFocusTheirFields() {
    UserStandIn user;
    auto form = MakeWindow(user);
    QCOMPARE(form->labSelSrcFile->buddy(), form->txtSrcFile);
    QCOMPARE(form->labSelDstFile->buddy(), form->txtDstFile);
    QCOMPARE(form->labSrcFormat->buddy(), form->cmbSrcFormat);
    QCOMPARE(form->labDstFormat->buddy(), form->cmbDstFormat);
  }

  void formatListsHoldTheThreeVariants() {
    UserStandIn user;
    auto form = MakeWindow(user);
    for (QComboBox* list : {form->cmbSrcFormat, form->cmbDstFormat, form->cmbBatchSrcFormat, form->cmbBatchDstFormat}) {
      QCOMPARE(list->count(), 3);
      QCOMPARE(list->itemText(0), QStringLiteral("Auto Determined"));
      QCOMPARE(list->itemText(1), QStringLiteral("Outlook 97-2002"));
      QCOMPARE(list->itemText(2), QStringLiteral("Outlook 2003/2007"));
      QCOMPARE(list->currentIndex(), 0);
    }
    QCOMPARE(form->FileList->headerItem()->text(0), QStringLiteral("Source File Name"));
    QCOMPARE(form->FileList->headerItem()->text(1), QStringLiteral("Target File Name"));
    QCOMPARE(form->FileList->headerItem()->text(2), QStringLiteral("Recovery Status"));
    // 262, 262 and 89 as designed, the status column widened to show its
    // caption in this font and the file columns giving way.
    const int status = form->FileList->columnWidth(2);
    QVERIFY(status >= 89);
    QVERIFY(status > form->FileList->fontMetrics().horizontalAdvance(QStringLiteral("Recovery Status")));
    QCOMPARE(form->FileList->columnWidth(0) + form->FileList->columnWidth(1) + status, 262 + 262 + 89);
    QVERIFY(qAbs(form->FileList->columnWidth(0) - form->FileList->columnWidth(1)) <= 1);
  }

  void unicodeTargetWarnsOnBothLists() {
    UserStandIn user;
    auto form = MakeWindow(user);
    const QString warning = QStringLiteral(
        "Please make sure your computer has Outlook 2003 or 2007 installed! Otherwise Brellin cannot output "
        "Outlook 2003/2007 format PST file!");
    form->cmbDstFormat->setCurrentIndex(1);
    QVERIFY(user.asked.isEmpty());
    form->cmbDstFormat->setCurrentIndex(2);
    QCOMPARE(user.asked.size(), 1);
    QCOMPARE(user.asked[0].text, warning);
    QCOMPARE(user.asked[0].kind, MsgKind::Warning);
    QCOMPARE(user.asked[0].caption, QStringLiteral("Warning"));
    QCOMPARE(user.asked[0].buttons, MsgButtons::Ok);
    QCOMPARE(form->cmbDstFormat->currentIndex(), 2);  // the choice stays
    form->cmbBatchDstFormat->setCurrentIndex(2);
    QCOMPARE(user.asked.size(), 2);
    form->cmbSrcFormat->setCurrentIndex(2);  // a source list never warns
    QCOMPARE(user.asked.size(), 2);
  }

  void pagesAndProgressStrip() {
    UserStandIn user;
    auto form = MakeWindow(user);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const auto shown = [&](QWidget* w) { return w->isVisibleTo(form.get()); };

    QCOMPARE(form->CurrentTab, 1);
    QVERIFY(form->btnRepairTab->isChecked());
    QVERIFY(shown(form->palRepairTab) && shown(form->palProgress) && shown(form->btnHelp));
    QVERIFY(!shown(form->palBatchRepairTab) && !shown(form->palOptionsTab) && !shown(form->palAboutTab));
    QCOMPARE(QApplication::focusWidget(), form->btnRepairTab);
    QRect strip = form->palProgress->geometry();
    QCOMPARE(strip.x(), 7);
    QCOMPARE(strip.width(), 733);
    QCOMPARE(strip.y() + strip.height(),
             inWindow(*form, form->txtDstFile).y() + form->txtDstFile->height() + form->Gauge->height() + 40);

    form->btnBatchRepairTab->click();
    QCOMPARE(form->CurrentTab, 2);
    QVERIFY(shown(form->palBatchRepairTab) && shown(form->palProgress) && shown(form->btnHelp));
    QVERIFY(!shown(form->palRepairTab));
    strip = form->palProgress->geometry();
    QCOMPARE(strip.x(), 7);
    QCOMPARE(strip.width(), 597);
    QCOMPARE(strip.y() + strip.height(), form->palBatchRepairTab->y() + form->Gauge->height() + 87);

    form->btnOptionsTab->click();
    QCOMPARE(form->CurrentTab, 3);
    QVERIFY(shown(form->palOptionsTab) && shown(form->btnHelp) && !shown(form->palProgress));
    QCOMPARE(form->CurrentSubTab, 1);
    QVERIFY(shown(form->palOptionsSubTab) && !shown(form->palAdvOptionsSubTab));
    QVERIFY(!shown(form->chkOpenFixed));
    form->btnAdvOptionsSubTab->click();
    QCOMPARE(form->CurrentSubTab, 2);
    QVERIFY(shown(form->palAdvOptionsSubTab) && !shown(form->palOptionsSubTab));

    form->btnAboutTab->click();
    QCOMPARE(form->CurrentTab, 4);
    QVERIFY(shown(form->palAboutTab) && !shown(form->btnHelp) && !shown(form->palProgress));

    form->btnOptionsTab->click();  // comes back on the sub-page left open
    QVERIFY(shown(form->palAdvOptionsSubTab) && !shown(form->palOptionsSubTab));

    for (QPushButton* b : {form->btnRepairTab, form->btnBatchRepairTab, form->btnOptionsTab, form->btnAboutTab,
                           form->btnOptionsSubTab, form->btnAdvOptionsSubTab}) {
      QVERIFY2(b->focusPolicy() == Qt::StrongFocus, qPrintable(b->objectName() + QString::number(int(b->focusPolicy()))));
    }
  }

  void sourceEditSitsBetweenLabelAndBrowseButton() {
    UserStandIn user;
    auto form = MakeWindow(user);
    const QRect label = form->labSelSrcFile->geometry();
    const QRect source = form->txtSrcFile->geometry();
    const QRect target = form->txtDstFile->geometry();
    QCOMPARE(source.x(), label.x() + form->labSelSrcFile->sizeHint().width() + 7);
    QCOMPARE(source.x() + source.width() + 5, form->btnSrcMore->x());
    QCOMPARE(target.x(), source.x());
    QCOMPARE(target.width(), source.width());
    QVERIFY(form->labSelSrcFile->sizeHint().width() <= label.width());
  }

  void startButtonNeedsBothNames() {
    UserStandIn user;
    auto form = MakeWindow(user);
    QVERIFY(!form->btnRepair->isEnabled());
    QCOMPARE(form->btnRepair->property("skin").toString(), QStringLiteral("startbutton"));
    form->txtDstFile->setText(QStringLiteral("   "));
    form->txtSrcFile->setText(QStringLiteral("  "));
    QVERIFY(!form->btnRepair->isEnabled());  // blanks only
    form->txtDstFile->setText(QStringLiteral("/out/x.pst"));
    QVERIFY(!form->btnRepair->isEnabled());
    form->txtSrcFile->setText(QStringLiteral(" /in/x.ost"));
    QVERIFY(form->btnRepair->isEnabled());
    form->txtDstFile->setText(QStringLiteral("\t "));
    QVERIFY(!form->btnRepair->isEnabled());
    form->txtDstFile->setText(QStringLiteral("/out/x.pst"));
    form->txtSrcFile->clear();
    QVERIFY(!form->btnRepair->isEnabled());
  }

  void targetFollowsTheSourceOnlyWhenEmpty() {
    UserStandIn user;
    auto form = MakeWindow(user);
    QTest::keyClicks(form->txtSrcFile, QStringLiteral("/m/a.ost"));
    // The first keystroke filled the target; later ones leave it alone.
    QCOMPARE(form->txtDstFile->text(), QStringLiteral("/_recovered.pst"));
    form->txtDstFile->clear();
    QVERIFY(!form->btnRepair->isEnabled());
    form->txtSrcFile->setText(QStringLiteral("/m/b.ost"));
    QCOMPARE(form->txtDstFile->text(), QStringLiteral("/m/b_recovered.pst"));
    QVERIFY(form->btnRepair->isEnabled());
    form->txtDstFile->setText(QStringLiteral("/typed/by/user.pst"));
    form->txtSrcFile->setText(QStringLiteral("/m/c.ost"));
    QCOMPARE(form->txtDstFile->text(), QStringLiteral("/typed/by/user.pst"));
  }

  void droppedFileBecomesTheSource() {
    UserStandIn user;
    auto form = MakeWindow(user);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QVERIFY(form->txtSrcFile->AcceptsFiles());
    // The desktop announces the drag, then drops.
    const auto dropFiles = [&](const QList<QUrl>& urls) {
      QMimeData data;
      data.setUrls(urls);
      QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(form->txtSrcFile, &enter);
      QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(form->txtSrcFile, &drop);
      return enter.isAccepted() && drop.isAccepted();
    };
    QVERIFY(dropFiles({QUrl::fromLocalFile(QStringLiteral("/drop/first.ost")), QUrl::fromLocalFile(QStringLiteral("/drop/second.ost"))}));
    QCOMPARE(form->txtSrcFile->text(), QStringLiteral("/drop/first.ost"));
    QCOMPARE(form->txtDstFile->text(), QStringLiteral("/drop/first_recovered.pst"));
    QVERIFY(form->btnRepair->isEnabled());

    // A dropped path replaces the source and is cut at 260 characters.
    const QString longPath = QStringLiteral("/") + QString(300, u'd') + QStringLiteral(".ost");
    QVERIFY(dropFiles({QUrl::fromLocalFile(longPath)}));
    QCOMPARE(form->txtSrcFile->text(), longPath.left(260));
    QCOMPARE(form->txtDstFile->text(), QStringLiteral("/drop/first_recovered.pst"));

    form->txtSrcFile->AcceptFiles(false);
    form->txtSrcFile->clear();
    dropFiles({QUrl::fromLocalFile(QStringLiteral("/drop/third.ost"))});
    QVERIFY(form->txtSrcFile->text().isEmpty());  // file drops are off again
  }

  void targetBrowseSetsTheDefaultExtension() {
    UserStandIn user;
    auto form = MakeWindow(user);
    QString offeredFilter;
    QString extensionAtStart;
    QString extensionAfterSwitch;
    QString nameAtStart = QStringLiteral("<not run>");
    TSaveDialog::SetRunner([&](TSaveDialog& dialog) {
      offeredFilter = dialog.Filter;
      extensionAtStart = dialog.DefaultExt;
      nameAtStart = dialog.FileName;
      dialog.FilterIndex = 2;  // the user picks "All files"
      dialog.OnTypeChange();
      extensionAfterSwitch = dialog.DefaultExt;
      dialog.FileName = QStringLiteral("/out/new.pst");
      return true;
    });
    form->txtDstFile->setText(QStringLiteral("/old.pst"));
    form->btnDstMore->click();
    QCOMPARE(offeredFilter, QStringLiteral("Outlook data files (*.pst)|*.pst|All files (*.*)|*.*"));
    QCOMPARE(form->OpenDialog.Filter, QStringLiteral("Exchange offline storage files (*.ost)|*.ost|All files (*.*)|*.*"));
    QCOMPARE(extensionAtStart, QStringLiteral("pst"));
    QCOMPARE(nameAtStart, QString());
    QCOMPARE(extensionAfterSwitch, QString());
    QCOMPARE(form->txtDstFile->text(), QStringLiteral("/out/new.pst"));
    QCOMPARE(form->Settings->SaveFilterIndex, 2);

    TSaveDialog::SetRunner([](TSaveDialog&) { return false; });
    form->btnDstMore->click();  // cancel changes nothing
    QCOMPARE(form->txtDstFile->text(), QStringLiteral("/out/new.pst"));
  }

  void tempFolderPicker() {
    UserStandIn user;
    auto form = MakeWindow(user);
    QString caption;
    SetSelectDirectoryRunner([&](const QString& title, QString& directory) {
      caption = title;
      directory = QStringLiteral("/chosen");
      return true;
    });
    form->btnMoreDir->click();
    QCOMPARE(caption, QStringLiteral("Select directory for temporary files:"));
    QCOMPARE(form->txtTempDir->text(), QStringLiteral("/chosen"));
    SetSelectDirectoryRunner([](const QString&, QString& directory) {
      directory = QStringLiteral("/ignored");
      return false;
    });
    form->btnMoreDir->click();
    QCOMPARE(form->txtTempDir->text(), QStringLiteral("/chosen"));
  }

  void helpOpensTheHtmlFileBesideTheProgram() {
    UserStandIn user;
    auto form = MakeWindow(user);
    QStringList opened;
    SetShellOpener([&](const QString& path) {
      opened << path;
      return true;
    });
    form->btnHelp->click();
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()) || true);
    QTest::keyClick(form.get(), Qt::Key_F1);
    const QString expected = sandbox_->Path() + QStringLiteral("/bin/zelm.html");
    QCOMPARE(form->HelpFile(), expected);
    QVERIFY(!opened.isEmpty());
    for (const QString& path : opened) QCOMPARE(path, expected);
  }

  void messageCaptionsByKind() {
    QCOMPARE(TSkinMessage::CaptionOf(MsgKind::Warning), QStringLiteral("Warning"));
    QCOMPARE(TSkinMessage::CaptionOf(MsgKind::Error), QStringLiteral("Error"));
    QCOMPARE(TSkinMessage::CaptionOf(MsgKind::Information), QStringLiteral("Information"));
    QCOMPARE(TSkinMessage::CaptionOf(MsgKind::Confirmation), QStringLiteral("Confirm"));
  }

  void messageBoxButtonsAndEscape_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("expected");
    QTest::newRow("ok") << int(MsgButtons::Ok) << int(MsgResult::Ok);
    QTest::newRow("yes/no") << int(MsgButtons::YesNo) << int(MsgResult::No);
    QTest::newRow("batch question") << int(MsgButtons::YesNoCancelAll) << int(MsgResult::Cancel);
  }
  void messageBoxButtonsAndEscape() {
    QFETCH(int, buttons);
    QFETCH(int, expected);
    QWidget owner;
    TSkinMessage message(&owner);
    int shownButtons = 0;
    QString title;
    QTimer::singleShot(0, [&] {
      QWidget* box = QApplication::activeModalWidget();
      QVERIFY(box != nullptr);
      title = box->windowTitle();
      shownButtons = static_cast<int>(box->findChildren<QPushButton*>().size());
      QTest::keyClick(box, Qt::Key_Escape);
    });
    const MsgResult result = message.MessageDlg(QStringLiteral("text"), MsgKind::Confirmation, MsgButtons(buttons));
    QCOMPARE(int(result), expected);
    QCOMPARE(title, QStringLiteral("Confirm"));
    QCOMPARE(shownButtons, buttons == int(MsgButtons::Ok) ? 1 : buttons == int(MsgButtons::YesNo) ? 2 : 5);
  }

  void resultDialogGrowsWithItsText() {
    QWidget owner;
    TMsgForm shortForm(&owner, QStringLiteral("3 item(s) recovered."));
    QVERIFY(shortForm.labMsg->text().endsWith(
        QStringLiteral("3 item(s) recovered. Or use Outlook to open the recovered PST file and see the recovered items in it.")));
    QCOMPARE(shortForm.windowTitle(), QStringLiteral("Information"));
    QCOMPARE(shortForm.btnClose->text(), QStringLiteral("&Close"));
    QCOMPARE(shortForm.imgIcon->size(), QSize(32, 32));
    QCOMPARE(shortForm.labMsg->width(), 399);
    const auto checkLayout = [](TZELMMsgForm& f) {
      QCOMPARE(f.btnClose->y(), f.labMsg->y() + f.labMsg->height() + 14);
      QCOMPARE(f.height(), f.labMsg->height() + f.btnClose->height() + 69);
      QVERIFY(f.labMsg->height() >= f.labMsg->heightForWidth(399));
    };
    checkLayout(shortForm);
    TMsgForm longForm(&owner, QString(QStringLiteral("many words ")).repeated(80));
    checkLayout(longForm);
    QVERIFY(longForm.height() > shortForm.height() + 60);

    bool closed = false;
    QTimer::singleShot(0, [&] {
      longForm.btnClose->click();
      closed = true;
    });
    longForm.exec();
    QVERIFY(closed);
  }

  // With ZELM_SCREENSHOT_DIR set, writes one picture per page there.
  void screenshots() {
    const QString dir = qEnvironmentVariable("ZELM_SCREENSHOT_DIR");
    if (dir.isEmpty()) QSKIP("ZELM_SCREENSHOT_DIR not set");
    ApplyApplicationFont();
    UserStandIn user;
    auto form = MakeWindow(user);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    form->txtSrcFile->setText(QStringLiteral("/home/user/mail/outlook.ost"));
    form->AddLog(QStringLiteral("Start recovery process ..."));
    form->AddSeparator();
    const auto save = [&](QWidget& w, const char* name) {
      QApplication::processEvents();
      QVERIFY(w.grab().save(dir + u'/' + QString::fromLatin1(name) + QStringLiteral(".png")));
    };
    save(*form, "1-recovery");
    form->btnBatchRepairTab->click();
    auto* row = new QTreeWidgetItem(form->FileList, {QStringLiteral("/home/user/mail/outlook.ost"),
                                                     QStringLiteral("/home/user/mail/outlook_recovered.pst"),
                                                     QStringLiteral("Not Recovered")});
    Q_UNUSED(row);
    save(*form, "2-batch");
    form->btnOptionsTab->click();
    form->btnOptionsSubTab->click();
    save(*form, "3-options");
    form->btnAdvOptionsSubTab->click();
    save(*form, "3-advanced");
    form->btnAboutTab->click();
    save(*form, "4-about");
    form->btnRepairTab->click();
    form->Running = true;
    form->btnRepair->setText(QStringLiteral("&Stop Recovery"));
    TZELMMainForm::SetButtonSkin(form->btnRepair, "stopbutton");
    form->Gauge->setValue(42);
    form->labProgress->setText(QStringLiteral("42% completed"));
    save(*form, "5-running");
    form->Running = false;
    TMsgForm result(form.get(), QStringLiteral("18 item(s) of the file '/home/user/mail/outlook.ost' have been recovered."), form->styleSheet());
    result.show();
    save(result, "6-result");
    result.hide();
    QTimer::singleShot(0, [&] {
      QWidget* box = QApplication::activeModalWidget();
      QVERIFY(box != nullptr);
      save(*box, "7-question");
      box->close();
    });
    TSkinMessage(form.get()).MessageDlg(QStringLiteral("A file named '/home/user/mail/outlook_recovered.pst' already exists. Overwrite it?"),
                                        MsgKind::Confirmation, MsgButtons::YesNo);
  }

 private:
  std::unique_ptr<SettingsSandbox> sandbox_;
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
