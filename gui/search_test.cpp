// The search window: its start-up state, the advanced panel and the window
// height, the criteria on a temporary tree, the result columns, stopping and
// closing during a search, OK and Cancel, and its use by the main window.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "client/local_drives.h"
#include "gui/DragEdit.h"
#include "gui/SearchFrm.h"
#include "gui/test_support.h"

using namespace zelm;
using namespace zelm::testing;

namespace {

bool writeFile(const QString& path, qsizetype size) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(QByteArray(size, 'x')) == size;
}

void setModified(const QString& path, const QDateTime& when) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadWrite));
  QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
}

// Answers the window's message boxes and remembers what was shown.
struct Messages {
  explicit Messages(TSearchForm& form) {
    form.bsSkinMessage->SetResponder([this](const MessageRequest& r) {
      asked << r;
      return answers.isEmpty() ? MsgResult::Ok : answers.takeFirst();
    });
  }
  QStringList texts() const {
    QStringList t;
    for (const MessageRequest& r : asked) t << r.text;
    return t;
  }
  QList<MessageRequest> asked;
  QList<MsgResult> answers;
};

QStringList names(const TSearchForm& form) {
  QStringList found;
  for (int row = 0; row < form.fl->topLevelItemCount(); ++row) found << form.fl->topLevelItem(row)->text(0);
  found.sort();
  return found;
}

}  // namespace

class SearchTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
  void init() {
    sandbox_ = std::make_unique<SettingsSandbox>();
    tree_ = std::make_unique<QTemporaryDir>();
    const QString root = tree_->path();
    QVERIFY(QDir(root).mkpath(QStringLiteral("sub/deeper")));
    QVERIFY(QDir(root).mkpath(QStringLiteral("other")));
    QVERIFY(writeFile(root + QStringLiteral("/exact.ost"), 1024));
    QVERIFY(writeFile(root + QStringLiteral("/small.OST"), 1023));
    QVERIFY(writeFile(root + QStringLiteral("/.hidden.ost"), 4096));
    QVERIFY(writeFile(root + QStringLiteral("/mail.pst"), 4096));
    QVERIFY(writeFile(root + QStringLiteral("/sub/big.ost"), 3000));
    QVERIFY(writeFile(root + QStringLiteral("/sub/deeper/deep.ost"), 10));
    QVERIFY(writeFile(root + QStringLiteral("/other/else.ost"), 10));
  }
  void cleanup() {
    tree_.reset();
    sandbox_.reset();
  }

  void startsWithTheFixedDrivesAndOneMask() {
    TSearchForm form;
    QCOMPARE(form.cmbFileName->currentText(), QStringLiteral("Microsoft Exchange offline storage files (*.ost)"));
    const QString drives = QString::fromStdString(vexl::client::fixedDriveList(vexl::client::localDrives()));
    QCOMPARE(form.FixedDrives, drives);
    QCOMPARE(form.cmbDirectory->currentText(), QStringLiteral("Local Harddrives (%1)").arg(drives));
    QCOMPARE(form.cmbFileName->geometry().right() + 1, 467);

    // The advanced controls follow their group and their own box.
    const auto enabled = [&](QWidget* w) { return w->isEnabledTo(form.palAdvOptions); };
    QVERIFY(!enabled(form.chkFileMinSize));
    form.gbFileSize->setChecked(true);
    QVERIFY(enabled(form.chkFileMinSize));
    QVERIFY(!enabled(form.txtMinSize));
    form.chkFileMinSize->setChecked(true);
    QVERIFY(enabled(form.txtMinSize));
    QVERIFY(!enabled(form.txtMaxSize));
    form.gbFileSize->setChecked(false);
    QVERIFY(!enabled(form.txtMinSize));
    QVERIFY(!enabled(form.chkFileMinSize));
  }

  void theAdvancedPanelGrowsAndShrinksTheWindow() {
    TSearchForm form;
    form.show();
    form.move(100, 150);
    const int height = form.height();
    const int y = form.y();
    form.btnAdvOptions->click();
    QCOMPARE(form.palAdvOptions->height(), 131);
    QVERIFY(form.palAdvOptions->isEnabled());
    QCOMPARE(form.height(), height + 131);
    QCOMPARE(form.minimumHeight(), 497 + 131);
    QCOMPARE(form.y(), y - 65);
    QCOMPARE(form.btnAdvOptions->text(), QStringLiteral("&-"));
    QVERIFY(form.gbFileTime->isVisible());
    form.btnAdvOptions->click();
    QCOMPARE(form.palAdvOptions->height(), 0);
    QVERIFY(!form.palAdvOptions->isEnabled());
    QCOMPARE(form.height(), height);
    QCOMPARE(form.minimumHeight(), 497);
    QCOMPARE(form.y(), y);
    QCOMPARE(form.btnAdvOptions->text(), QStringLiteral("&+"));
    // Not above the top of the screen.
    form.move(100, 20);
    form.btnAdvOptions->click();
    QCOMPARE(form.y(), 0);
  }

  void findsWhatTheCriteriaAllow() {
    TSearchForm form;
    Messages messages(form);
    const QString root = tree_->path();
    form.cmbDirectory->setEditText(root);
    form.btnSearchClick();
    QCOMPARE(names(form), QStringList({QStringLiteral(".hidden.ost"), QStringLiteral("big.ost"),
                                       QStringLiteral("deep.ost"), QStringLiteral("else.ost"),
                                       QStringLiteral("exact.ost"), QStringLiteral("small.OST")}));
    QCOMPARE(messages.texts(), QStringList({QStringLiteral("Search is completed. 6 file(s) found.")}));
    QCOMPARE(form.labProgress->text(), QStringLiteral("6 file(s) found"));
    QVERIFY(!form.Searching);
    QCOMPARE(form.btnSearch->text(), QStringLiteral("&Start Search"));

    // The columns of one row.
    const QTreeWidgetItem* big = form.fl->findItems(QStringLiteral("big.ost"), Qt::MatchExactly).value(0);
    QVERIFY(big != nullptr);
    QCOMPARE(big->text(1), root + QStringLiteral("/sub/"));
    QCOMPARE(big->text(2), QStringLiteral("3000"));
    QCOMPARE(big->text(5), FormatSearchTime(QFileInfo(root + QStringLiteral("/sub/big.ost")).lastModified()));

    // At least 1 KB keeps the file of exactly 1024 bytes; at most 0 KB sets
    // no upper bound.
    form.gbFileSize->setChecked(true);
    form.chkFileMinSize->setChecked(true);
    form.txtMinSize->setValue(1);
    form.chkFileMaxSize->setChecked(true);
    form.txtMaxSize->setValue(0);
    form.btnSearchClick();
    QCOMPARE(names(form), QStringList({QStringLiteral(".hidden.ost"), QStringLiteral("big.ost"),
                                       QStringLiteral("exact.ost")}));
    form.gbFileSize->setChecked(false);

    // The attribute group with no box checked lets every file through.
    form.gbFileAttr->setChecked(true);
    form.btnSearchClick();
    QCOMPARE(form.fl->topLevelItemCount(), 6);
    form.chkFileHiddenAttr->setChecked(true);
    form.btnSearchClick();
    QCOMPARE(names(form), QStringList({QStringLiteral(".hidden.ost")}));
    form.gbFileAttr->setChecked(false);

    // Modified in 0 days: only what is written at or after the click.
    setModified(root + QStringLiteral("/sub/big.ost"), QDateTime::currentDateTime().addSecs(3600));
    form.gbFileTime->setChecked(true);
    form.chkFileModifiedTime->setChecked(true);
    form.btnSearchClick();
    QCOMPARE(names(form), QStringList({QStringLiteral("big.ost")}));
    form.gbFileTime->setChecked(false);

    // Two folders typed with ";", in their order.
    form.cmbDirectory->setEditText(root + QStringLiteral("/other;") + root + QStringLiteral("/sub/deeper"));
    form.btnSearchClick();
    QCOMPARE(form.fl->topLevelItemCount(), 2);
    QCOMPARE(form.fl->topLevelItem(0)->text(0), QStringLiteral("else.ost"));
    QCOMPARE(form.fl->topLevelItem(1)->text(0), QStringLiteral("deep.ost"));
  }

  void stopAndCloseDuringASearch() {
    TSearchForm form;
    form.cmbDirectory->setEditText(tree_->path());
    {  // The start button stops the search at the next check.
      Messages messages(form);
      QString captionDuringSearch;
      QTimer::singleShot(0, &form, [&] {
        captionDuringSearch = form.btnSearch->text();
        QVERIFY(form.Searching);
        QVERIFY(form.Timer->isActive());
        form.btnSearch->click();
      });
      form.btnSearchClick();
      QCOMPARE(captionDuringSearch, QStringLiteral("&Stop Search"));
      QCOMPARE(messages.texts(), QStringList({QStringLiteral("Search is cancelled by the user!")}));
      QVERIFY(form.fl->topLevelItemCount() < 6);
      QVERIFY(!form.Searching);
    }
    {  // Closing and answering No: the search goes on to its end.
      Messages messages(form);
      messages.answers << MsgResult::No;
      form.show();
      QTimer::singleShot(0, &form, [&] { form.close(); });
      form.btnSearchClick();
      QCOMPARE(messages.texts(), QStringList({QStringLiteral("Cancel the current search and close the search window?"),
                                              QStringLiteral("Search is completed. 6 file(s) found.")}));
      QVERIFY(form.isVisible());
    }
    {  // Closing and answering Yes: closed, no cancel message.
      Messages messages(form);
      messages.answers << MsgResult::Yes;
      form.Tag = 0;
      int result = -1;
      QTimer::singleShot(0, &form, [&] {
        QTimer::singleShot(0, &form, [&] { QTest::keyClick(&form, Qt::Key_Escape); });
        form.btnSearchClick();
      });
      result = form.exec();
      QCOMPARE(result, int(QDialog::Rejected));
      QCOMPARE(messages.texts(), QStringList({QStringLiteral("Cancel the current search and close the search window?")}));
      QCOMPARE(form.Tag, 0);
      QVERIFY(!form.Searching);
      QVERIFY(!form.isVisible());
    }
  }

  void okNeedsASelection() {
    TSearchForm form;
    Messages messages(form);
    form.cmbDirectory->setEditText(tree_->path());
    form.btnSearchClick();
    form.SetMultiSelect(true);
    form.btnOKClick();
    QCOMPARE(messages.asked.last().text,
             QStringLiteral("Please select the file(s) to be recovered from the search results!"));
    QCOMPARE(messages.asked.last().kind, MsgKind::Error);
    QCOMPARE(form.Tag, 0);
    form.fl->topLevelItem(3)->setSelected(true);
    form.fl->topLevelItem(1)->setSelected(true);
    const QString first = form.fl->topLevelItem(1)->text(1) + form.fl->topLevelItem(1)->text(0);
    const QString second = form.fl->topLevelItem(3)->text(1) + form.fl->topLevelItem(3)->text(0);
    QCOMPARE(form.SelectedFiles(), QStringList({first, second}));  // list order
    form.btnOKClick();
    QCOMPARE(form.Tag, 1);
    form.SetMultiSelect(false);
    QCOMPARE(form.fl->selectionMode(), QAbstractItemView::SingleSelection);
  }

  void theMainWindowTakesTheChoice() {
    UserStandIn user;
    auto window = MakeWindow(user);
    TSearchForm& search = *window->SearchForm;
    Messages messages(search);
    search.cmbDirectory->setEditText(tree_->path());
    const auto searchAndPick = [&](bool all) {
      QTimer::singleShot(0, &search, [&search, all] {
        search.btnSearchClick();
        if (all) {
          search.fl->selectAll();
        } else {
          search.fl->topLevelItem(0)->setSelected(true);
        }
        search.btnOK->click();
      });
    };
    searchAndPick(true);
    window->btnSearchFilesClick();
    QCOMPARE(search.fl->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(window->FileList->topLevelItemCount(), 6);
    QCOMPARE(window->FileList->topLevelItem(0)->text(0), search.SelectedFiles().value(0));
    QVERIFY(!search.styleSheet().isEmpty());

    // Again: every row is a duplicate now.
    searchAndPick(true);
    window->btnSearchFilesClick();
    QCOMPARE(window->FileList->topLevelItemCount(), 6);
    QCOMPARE(user.asked.size(), 6);

    searchAndPick(false);
    window->btnSrcSearchClick();
    QCOMPARE(search.fl->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(window->txtSrcFile->text(), search.SelectedFiles().value(0));
    QVERIFY(window->txtDstFile->text().endsWith(QStringLiteral("_recovered.pst")));

    // Cancel takes nothing.
    window->txtSrcFile->clear();
    QTimer::singleShot(0, &search, [&search] { search.btnCancel->click(); });
    window->btnSrcSearchClick();
    QVERIFY(window->txtSrcFile->text().isEmpty());
  }

  void timesInTheShortDateAndLongTimeFormat() {
    const QDateTime t(QDate(2026, 3, 4), QTime(17, 5, 9));
    QCOMPARE(FormatSearchTime(t), QStringLiteral("3/4/26 5:05:09 PM"));
  }

 private:
  std::unique_ptr<SettingsSandbox> sandbox_;
  std::unique_ptr<QTemporaryDir> tree_;
};

QTEST_MAIN(SearchTest)
#include "search_test.moc"
