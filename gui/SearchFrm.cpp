#include "gui/SearchFrm.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "client/local_drives.h"
#include "gui/FileDialogs.h"
#include "gui/Look.h"
#include "gui/NamedWidgets.h"
#include "gui/RunText.h"
#include "gui/Shell.h"
#include "gui/SkinMessage.h"
#include "gui/ZELMMain.h"
#include "gui/ZELMPanel.h"
#include "gui/ZelmStrings.h"

namespace zelm {
namespace {

using vexl::client::FileTime;
using vexl::client::FoundFile;
using vexl::client::SearchCriteria;

QString tr8(const char* text) { return res::str(text); }

constexpr int kHeaderHeight = 48;
constexpr int kCriteriaHeight = 104;
constexpr int kLeft = 12;
constexpr int kRowHeight = 24;
constexpr int kFileNameListRight = 467;  // the file-name list ends here
constexpr int kMaxSizeKb = 1073741824;
constexpr int kMaxDays = 999;

enum Column { kName, kDirectory, kSize, kCreated, kLastAccessed, kLastModified };

QCheckBox* makeCheck(QWidget* parent, const char* name, const char* caption, const char* hint) {
  auto* box = new QCheckBox(tr8(caption), parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setToolTip(tr8(hint));
  return box;
}

QSpinBox* makeSpin(QWidget* parent, const char* name, int maximum) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(QString::fromLatin1(name));
  spin->setRange(0, maximum);
  return spin;
}

QGroupBox* makeGroup(QWidget* parent, const char* name, const char* caption, const char* hint) {
  auto* group = new QGroupBox(tr8(caption), parent);
  group->setObjectName(QString::fromLatin1(name));
  group->setToolTip(tr8(hint));
  group->setCheckable(true);
  group->setChecked(false);
  return group;
}

QString fromFileSystem(const std::string& text) { return QFile::decodeName(QByteArray::fromStdString(text)); }

QDateTime toDateTime(FileTime time) {
  return QDateTime::fromMSecsSinceEpoch(
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
}

// Qt's long time format ends in the time zone, which the long time format of
// the result list has not: drop the "t" fields outside quoted text.
QString longTimeFormat(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString out;
  bool quoted = false;
  for (const QChar c : format) {
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == u't') continue;
    out += c;
  }
  return out.trimmed();
}

}  // namespace

QString FormatSearchTime(const QDateTime& time) {
  const QLocale locale;
  return locale.toString(time.toLocalTime(), locale.dateFormat(QLocale::ShortFormat) + u' ' + longTimeFormat(locale));
}

TSearchForm::TSearchForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SearchForm"));
  setWindowTitle(QString());
  bsSkinMessage = new TSkinMessage(this);
  Timer = new QTimer(this);
  Timer->setObjectName(QStringLiteral("Timer"));
  Timer->setInterval(kTimerInterval);
  connect(Timer, &QTimer::timeout, this, &TSearchForm::TimerTimer);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 10);
  column->setSpacing(0);

  palHeader = new TZELMPanel(this);
  palHeader->setObjectName(QStringLiteral("palHeader"));
  palHeader->setProperty("header", true);
  palHeader->setFixedHeight(kHeaderHeight);
  imgHeader = makeLabel(palHeader, "imgHeader", QString());
  imgHeader->setPixmap(ProgramPixmap(32));
  imgHeader->setGeometry(kLeft, 8, 32, 32);
  labBanner = makeLabel(palHeader, "labBanner", QString());
  labBanner->setProperty("banner", true);
  labBanner->setGeometry(kLeft + 42, 8, 600, 32);
  column->addWidget(palHeader);

  auto* criteria = new QWidget(this);
  criteria->setObjectName(QStringLiteral("palCriteria"));
  criteria->setFixedHeight(kCriteriaHeight);
  buildCriteria(criteria);
  column->addWidget(criteria);

  buildAdvancedPanel();
  column->addWidget(palAdvOptions);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(kLeft, 6, kLeft, 0);
  body->setSpacing(4);
  Label5 = makeLabel(this, "Label5", tr8(res::kSearchResults));
  Label5->setProperty("heading", true);
  body->addWidget(Label5);
  fl = new QTreeWidget(this);
  fl->setObjectName(QStringLiteral("fl"));
  fl->setColumnCount(6);
  fl->setHeaderLabels({tr8(res::kColName), tr8(res::kColDirectory), tr8(res::kColSize), tr8(res::kColCreated),
                       tr8(res::kColLastAccessed), tr8(res::kColLastModified)});
  // The designed widths, widened where this font would clip a caption or
  // a time; the list scrolls sideways when they do not fit.
  const QFontMetrics metrics(fl->font());
  const int timeWidth = metrics.horizontalAdvance(FormatSearchTime(QDateTime(QDate(2026, 12, 28), QTime(23, 58, 58)))) + 16;
  const int widths[] = {129, 200, 65, 112, 112, 112};
  for (int c = 0; c < 6; ++c) {
    int width = qMax(widths[c], metrics.horizontalAdvance(fl->headerItem()->text(c)) + 16);
    if (c >= kCreated) width = qMax(width, timeWidth);
    fl->setColumnWidth(c, width);
  }
  fl->headerItem()->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
  fl->setRootIsDecorated(false);
  fl->setSelectionBehavior(QAbstractItemView::SelectRows);
  fl->setEditTriggers(QAbstractItemView::NoEditTriggers);
  fl->setMinimumHeight(60);
  Label5->setBuddy(fl);
  body->addWidget(fl, 1);

  auto* progress = new QHBoxLayout;
  progress->setSpacing(10);
  labProgress = makeLabel(this, "labProgress", QString());
  labDir = makeLabel(this, "labDir", QString());
  // A long folder must not widen the window.
  labDir->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  labConsumedTimePrompt = makeLabel(this, "labConsumedTimePrompt", tr8(res::kConsumedTimePrompt));
  labConsumedTime = makeLabel(this, "labConsumedTime", QString());
  progress->addWidget(labProgress);
  progress->addWidget(labDir, 1);
  auto* time = new QHBoxLayout;
  time->setSpacing(0);
  time->addWidget(labConsumedTimePrompt);
  time->addWidget(labConsumedTime);
  progress->addLayout(time);
  body->addLayout(progress);
  Gauge = new QProgressBar(this);
  Gauge->setObjectName(QStringLiteral("Gauge"));
  Gauge->setTextVisible(false);
  Gauge->setFixedHeight(16);
  Gauge->setRange(0, 100);
  Gauge->setValue(0);
  body->addWidget(Gauge);

  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(0, 6, 0, 0);
  btnHelp = makeButton(this, "btnHelp", tr8(res::kHelp));
  btnOK = makeButton(this, "btnOK", tr8(res::kOK));
  btnCancel = makeButton(this, "btnCancel", tr8(res::kCancel));
  for (QPushButton* b : {btnHelp, btnOK, btnCancel}) {
    b->setFixedSize(100, 30);
    b->setAutoDefault(false);
  }
  buttons->addWidget(btnHelp);
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  body->addLayout(buttons);
  column->addLayout(body, 1);

  connect(btnSearch, &QPushButton::clicked, this, &TSearchForm::btnSearchClick);
  connect(btnSelectDir, &QPushButton::clicked, this, &TSearchForm::btnSelectDirClick);
  connect(btnAdvOptions, &QPushButton::clicked, this, &TSearchForm::btnAdvOptionsClick);
  connect(btnOK, &QPushButton::clicked, this, &TSearchForm::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &TSearchForm::btnCancelClick);
  connect(btnHelp, &QPushButton::clicked, this, &TSearchForm::btnHelpClick);
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(f1, &QShortcut::activated, this, &TSearchForm::FormHelp);

  FormCreate();
}

TSearchForm::~TSearchForm() = default;

void TSearchForm::buildCriteria(QWidget* area) {
  labSearchFileNamePrompt = makeLabel(area, "labSearchFileNamePrompt", tr8(res::kSearchFileNamePrompt));
  cmbFileName = new QComboBox(area);
  cmbFileName->setObjectName(QStringLiteral("cmbFileName"));
  labSearchFileNamePrompt->setBuddy(cmbFileName);
  Label1 = makeLabel(area, "Label1", tr8(res::kLookIn));
  cmbDirectory = new QComboBox(area);
  cmbDirectory->setObjectName(QStringLiteral("cmbDirectory"));
  cmbDirectory->setEditable(true);
  cmbDirectory->setInsertPolicy(QComboBox::NoInsert);
  Label1->setBuddy(cmbDirectory);
  btnSelectDir = makeButton(area, "btnSelectDir", tr8(res::kSrcMore));
  btnSelectDir->setProperty("small", true);
  RecurseSubDirs = new QCheckBox(tr8(res::kRecurseSubDirs), area);
  RecurseSubDirs->setObjectName(QStringLiteral("RecurseSubDirs"));
  RecurseSubDirs->setChecked(true);
  btnSearch = makeButton(area, "btnSearch", tr8(res::kStartSearch));
  btnSearch->setDefault(true);
  TZELMMainForm::SetButtonSkin(btnSearch, kStartButtonSkin);
  labAdvOptionsPrompt = makeLabel(area, "labAdvOptionsPrompt", tr8(res::kAdvOptionsPrompt));
  btnAdvOptions = makeButton(area, "btnAdvOptions", tr8(res::kAdvOptionsShow));
  btnAdvOptions->setProperty("small", true);
  labAdvOptionsPrompt->setBuddy(btnAdvOptions);

  // Rows at 12, 44 and 76; the lists line up after the longer label.
  labSearchFileNamePrompt->setGeometry(kLeft, 12, labSearchFileNamePrompt->sizeHint().width(), kRowHeight);
  Label1->setGeometry(kLeft, 44, Label1->sizeHint().width(), kRowHeight);
  const int listLeft = labSearchFileNamePrompt->geometry().right() + 1 + 9;
  cmbFileName->setGeometry(listLeft, 12, kFileNameListRight - listLeft, kRowHeight);
  cmbDirectory->setGeometry(listLeft, 44, kFileNameListRight - listLeft, kRowHeight);
  btnSelectDir->setGeometry(kFileNameListRight + 5, 44, 26, kRowHeight);
  RecurseSubDirs->setGeometry(kFileNameListRight + 44, 44, RecurseSubDirs->sizeHint().width(), kRowHeight);
  btnSearch->setGeometry(kFileNameListRight + 44, 9, 150, 30);
  labAdvOptionsPrompt->setGeometry(kLeft, 76, labAdvOptionsPrompt->sizeHint().width(), kRowHeight);
  btnAdvOptions->setGeometry(labAdvOptionsPrompt->geometry().right() + 1 + 8, 77, 26, 22);
}

void TSearchForm::buildAdvancedPanel() {
  palAdvOptions = new QWidget(this);
  palAdvOptions->setObjectName(QStringLiteral("palAdvOptions"));
  constexpr int kGroupWidth = 240;
  constexpr int kGroupHeight = kAdvOptionsHeight - 8;
  constexpr int kGap = 8;

  gbFileSize = makeGroup(palAdvOptions, "gbFileSize", res::kFileSizeGroup, res::kHintFileSizeGroup);
  gbFileSize->setGeometry(kLeft, 0, kGroupWidth, kGroupHeight);
  chkFileMinSize = makeCheck(gbFileSize, "chkFileMinSize", res::kFileMinSize, res::kHintMinSize);
  txtMinSize = makeSpin(gbFileSize, "txtMinSize", kMaxSizeKb);
  chkFileMaxSize = makeCheck(gbFileSize, "chkFileMaxSize", res::kFileMaxSize, res::kHintMaxSize);
  txtMaxSize = makeSpin(gbFileSize, "txtMaxSize", kMaxSizeKb);
  txtMinSize->setToolTip(tr8(res::kHintMinSize));
  txtMaxSize->setToolTip(tr8(res::kHintMaxSize));
  int y = 34;
  for (auto [box, spin] : {std::pair{chkFileMinSize, txtMinSize}, std::pair{chkFileMaxSize, txtMaxSize}}) {
    box->setGeometry(12, y, 84, kRowHeight);
    spin->setGeometry(100, y, 100, kRowHeight);
    makeLabel(gbFileSize, "labKB", tr8(res::kKiloByteUnit))->setGeometry(206, y, 28, kRowHeight);
    y += 38;
  }

  gbFileAttr = makeGroup(palAdvOptions, "gbFileAttr", res::kFileAttrGroup, res::kHintFileAttrGroup);
  gbFileAttr->setGeometry(kLeft + kGroupWidth + kGap, 0, kGroupWidth, kGroupHeight);
  chkFileReadOnlyAttr = makeCheck(gbFileAttr, "chkFileReadOnlyAttr", res::kFileReadOnlyAttr, res::kHintReadOnlyAttr);
  chkFileHiddenAttr = makeCheck(gbFileAttr, "chkFileHiddenAttr", res::kFileHiddenAttr, res::kHintHiddenAttr);
  chkFileSystemAttr = makeCheck(gbFileAttr, "chkFileSystemAttr", res::kFileSystemAttr, res::kHintSystemAttr);
  chkFileArchiveAttr = makeCheck(gbFileAttr, "chkFileArchiveAttr", res::kFileArchiveAttr, res::kHintArchiveAttr);
  chkFileReadOnlyAttr->setGeometry(12, 34, 105, kRowHeight);
  chkFileHiddenAttr->setGeometry(122, 34, 105, kRowHeight);
  chkFileSystemAttr->setGeometry(12, 72, 105, kRowHeight);
  chkFileArchiveAttr->setGeometry(122, 72, 105, kRowHeight);

  gbFileTime = makeGroup(palAdvOptions, "gbFileTime", res::kFileTimeGroup, res::kHintFileTimeGroup);
  gbFileTime->setGeometry(kLeft + 2 * (kGroupWidth + kGap), 0, kGroupWidth, kGroupHeight);
  chkFileCreatedTime = makeCheck(gbFileTime, "chkFileCreatedTime", res::kFileCreatedTime, res::kHintCreatedTime);
  txtFileCreatedTime = makeSpin(gbFileTime, "txtFileCreatedTime", kMaxDays);
  chkFileLastAccessedTime =
      makeCheck(gbFileTime, "chkFileLastAccessedTime", res::kFileLastAccessedTime, res::kHintLastAccessedTime);
  txtFileLastAccessedTime = makeSpin(gbFileTime, "txtFileLastAccessedTime", kMaxDays);
  chkFileModifiedTime = makeCheck(gbFileTime, "chkFileModifiedTime", res::kFileModifiedTime, res::kHintModifiedTime);
  txtFileModifiedTime = makeSpin(gbFileTime, "txtFileModifiedTime", kMaxDays);
  txtFileCreatedTime->setToolTip(tr8(res::kHintCreatedTime));
  txtFileLastAccessedTime->setToolTip(tr8(res::kHintLastAccessedTime));
  txtFileModifiedTime->setToolTip(tr8(res::kHintModifiedTime));
  y = 26;
  for (auto [box, spin] : {std::pair{chkFileCreatedTime, txtFileCreatedTime},
                           std::pair{chkFileLastAccessedTime, txtFileLastAccessedTime},
                           std::pair{chkFileModifiedTime, txtFileModifiedTime}}) {
    box->setGeometry(12, y, 126, kRowHeight);
    spin->setGeometry(140, y, 56, kRowHeight);
    makeLabel(gbFileTime, "labDays", tr8(res::kDaysUnit))->setGeometry(200, y, 36, kRowHeight);
    y += 30;
  }

  for (QGroupBox* group : {gbFileSize, gbFileAttr, gbFileTime}) {
    connect(group, &QGroupBox::toggled, this, &TSearchForm::SetAdvOptControls);
  }
  for (QCheckBox* box : {chkFileMinSize, chkFileMaxSize, chkFileCreatedTime, chkFileLastAccessedTime,
                         chkFileModifiedTime}) {
    connect(box, &QCheckBox::toggled, this, &TSearchForm::SetAdvOptControls);
  }
  // Collapsed and disabled at first.
  palAdvOptions->setFixedHeight(0);
  palAdvOptions->setEnabled(false);
}

void TSearchForm::FormCreate() {
  // 1. Size and banner.
  resize(kWidth, kHeight);
  setMinimumSize(kMinWidth, kMinHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - QPoint(kWidth / 2, kHeight / 2));
  }
  labBanner->setText(tr8(res::kSearchBanner));

  // 2. The file-name list: one entry per description|mask pair.
  fileNameFilter_ = tr8(res::kSearchFilter);
  const QStringList parts = fileNameFilter_.split(u'|');
  cmbFileName->clear();
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) cmbFileName->addItem(parts.at(i), parts.at(i + 1));
  cmbFileName->setCurrentIndex(0);

  // 3. The fixed drives, computed once.
  FixedDrives = QString::fromStdString(vexl::client::fixedDriveList(vexl::client::localDrives()));
  cmbDirectory->clear();
  cmbDirectory->addItem(LocalHarddrivesEntry());
  cmbDirectory->setCurrentIndex(0);

  // 4. Advanced controls.
  SetAdvOptControls();

  // 5. Idle state and hints.
  ResetResults();
  Timer->stop();
  Searching = false;
  ReportCancel = true;
  cmbDirectory->setToolTip(tr8(res::kHintDirectory));
  btnSelectDir->setToolTip(tr8(res::kHintSelectDir));
  btnAdvOptions->setToolTip(tr8(res::kHintAdvOptions));
  btnOK->setToolTip(tr8(res::kHintOK));
  btnCancel->setToolTip(tr8(res::kHintCancel));
}

QString TSearchForm::LocalHarddrivesEntry() const { return tr8(res::kLocalHarddrives).arg(FixedDrives); }

void TSearchForm::SetMultiSelect(bool multiple) {
  fl->setSelectionMode(multiple ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

QStringList TSearchForm::SelectedFiles() const {
  QStringList files;
  for (int row = 0; row < fl->topLevelItemCount(); ++row) {
    const QTreeWidgetItem* item = fl->topLevelItem(row);
    if (!item->isSelected()) continue;
    QString folder = item->text(kDirectory);
    if (!folder.endsWith(u'/')) folder += u'/';
    files << folder + item->text(kName);
  }
  return files;
}

void TSearchForm::ResetResults() {
  fl->clear();
  labProgress->setText(tr8(res::kFilesFound).arg(0));
  labDir->clear();
  labConsumedTime->setText(FormatElapsedLabel(0));
}

void TSearchForm::SetAdvOptControls() {
  // QGroupBox enables its members with its own box; the value boxes also
  // follow their own check boxes.
  const auto apply = [](QGroupBox* group, std::initializer_list<std::pair<QCheckBox*, QWidget*>> members) {
    for (auto [box, value] : members) {
      box->setEnabled(group->isChecked());
      if (value != nullptr) value->setEnabled(group->isChecked() && box->isChecked());
    }
  };
  apply(gbFileSize, {{chkFileMinSize, txtMinSize}, {chkFileMaxSize, txtMaxSize}});
  apply(gbFileAttr, {{chkFileReadOnlyAttr, nullptr},
                     {chkFileHiddenAttr, nullptr},
                     {chkFileSystemAttr, nullptr},
                     {chkFileArchiveAttr, nullptr}});
  apply(gbFileTime, {{chkFileCreatedTime, txtFileCreatedTime},
                     {chkFileLastAccessedTime, txtFileLastAccessedTime},
                     {chkFileModifiedTime, txtFileModifiedTime}});
}

void TSearchForm::btnAdvOptionsClick() {
  const int screenHeight = screen() != nullptr ? screen()->availableGeometry().bottom() + 1 : 1 << 20;
  if (palAdvOptions->height() != 0) {
    palAdvOptions->setEnabled(false);
    palAdvOptions->setFixedHeight(0);
    setMinimumHeight(minimumHeight() - kAdvOptionsHeight);
    resize(width(), height() - kAdvOptionsHeight);
    move(x(), qMin(y() + kAdvOptionsShift, qMax(0, screenHeight - frameGeometry().height())));
    btnAdvOptions->setText(tr8(res::kAdvOptionsShow));
  } else {
    palAdvOptions->setEnabled(true);
    palAdvOptions->setFixedHeight(kAdvOptionsHeight);
    resize(width(), height() + kAdvOptionsHeight);
    move(x(), qMax(0, y() - kAdvOptionsShift));
    setMinimumHeight(minimumHeight() + kAdvOptionsHeight);
    btnAdvOptions->setText(tr8(res::kAdvOptionsHide));
  }
}

void TSearchForm::btnSelectDirClick() {
  const QString typed = cmbDirectory->currentText();
  QString folder = QFileInfo(typed).isDir() ? typed : QString();
  if (!SelectDirectory(this, QString(), folder)) return;
  cmbDirectory->setCurrentIndex(-1);
  cmbDirectory->setEditText(folder);
}

SearchCriteria TSearchForm::criteriaFromControls() const {
  SearchCriteria criteria;
  // Masks of the chosen entry; the last one when none is chosen.
  QString masks = QStringLiteral("*.*");
  if (cmbFileName->count() > 0) {
    const int index = cmbFileName->currentIndex() >= 0 ? cmbFileName->currentIndex() : cmbFileName->count() - 1;
    masks = cmbFileName->itemData(index).toString();
  }
  criteria.masks = vexl::client::splitSearchList(masks.toStdString());

  const QString folders = cmbDirectory->currentText();
  const bool allDrives = folders == LocalHarddrivesEntry();
  criteria.folders =
      vexl::client::splitSearchList(QFile::encodeName(allDrives ? FixedDrives : folders).toStdString());
  // Each drive is searched by itself, as a drive letter would be.
  criteria.stayOnFileSystem = allDrives;
  criteria.recurse = RecurseSubDirs->isChecked();

  if (gbFileSize->isChecked()) {
    if (chkFileMinSize->isChecked()) criteria.minSize = std::uint64_t(txtMinSize->value()) * 1024;
    if (chkFileMaxSize->isChecked()) criteria.maxSize = std::uint64_t(txtMaxSize->value()) * 1024;
  }
  if (gbFileAttr->isChecked()) {
    std::uint32_t attributes = 0;
    if (chkFileReadOnlyAttr->isChecked()) attributes |= vexl::client::kAttrReadOnly;
    if (chkFileHiddenAttr->isChecked()) attributes |= vexl::client::kAttrHidden;
    if (chkFileSystemAttr->isChecked()) attributes |= vexl::client::kAttrSystem;
    if (chkFileArchiveAttr->isChecked()) attributes |= vexl::client::kAttrArchive;
    criteria.requiredAttributes = attributes;
  }
  // Whole 24-hour spans back from the moment of the click.
  const FileTime now = std::chrono::system_clock::now();
  const auto daysBack = [&](const QSpinBox* days) { return now - std::chrono::hours(24) * days->value(); };
  const FileTime created = daysBack(txtFileCreatedTime);
  const FileTime accessed = daysBack(txtFileLastAccessedTime);
  const FileTime modified = daysBack(txtFileModifiedTime);
  if (gbFileTime->isChecked()) {
    if (chkFileCreatedTime->isChecked()) criteria.createdNotBefore = created;
    if (chkFileLastAccessedTime->isChecked()) criteria.accessedNotBefore = accessed;
    if (chkFileModifiedTime->isChecked()) criteria.modifiedNotBefore = modified;
  }
  return criteria;
}

void TSearchForm::btnSearchClick() {
  if (Searching) {
    // The stop request; the search on the stack ends at its next check.
    ReportCancel = true;
    lf.cancel();
    return;
  }
  const SearchCriteria criteria = criteriaFromControls();
  btnSearch->setText(tr8(res::kStopSearch));
  TZELMMainForm::SetButtonSkin(btnSearch, kStopButtonSkin);
  ResetResults();
  SearchStart = QDateTime::currentDateTime();
  Timer->start();
  ReportCancel = true;
  Searching = true;
  Gauge->setRange(0, 0);  // runs while the search does

  const vexl::client::SearchOutcome outcome = lf.run(criteria, *this);
  if (outcome == vexl::client::SearchOutcome::Finished) {
    lfFinished();
  } else {
    lfCancel();
  }
  lfEnd();
}

void TSearchForm::folderEntered(const std::string& folder) {
  lfDirChange(fromFileSystem(folder));
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  if (QCoreApplication::closingDown()) lf.cancel();
}

void TSearchForm::found(const FoundFile& file) { lfFound(file); }

void TSearchForm::lfDirChange(const QString& folder) { labDir->setText(tr8(res::kSearchIn) + u' ' + folder); }

void TSearchForm::lfFound(const FoundFile& file) {
  auto* item = new QTreeWidgetItem(fl);
  item->setText(kName, fromFileSystem(file.name));
  item->setText(kDirectory, fromFileSystem(file.folder));
  item->setText(kSize, QString::number(file.size));
  item->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
  item->setText(kCreated, FormatSearchTime(toDateTime(file.created)));
  item->setText(kLastAccessed, FormatSearchTime(toDateTime(file.lastAccessed)));
  item->setText(kLastModified, FormatSearchTime(toDateTime(file.lastModified)));
  labProgress->setText(tr8(res::kFilesFound).arg(fl->topLevelItemCount()));
}

void TSearchForm::restoreIdle() {
  btnSearch->setText(tr8(res::kStartSearch));
  TZELMMainForm::SetButtonSkin(btnSearch, kStartButtonSkin);
  Timer->stop();
  labDir->clear();
  Searching = false;
  Gauge->setRange(0, 100);
  Gauge->setValue(0);
}

void TSearchForm::lfFinished() {
  restoreIdle();
  bsSkinMessage->MessageDlg(tr8(res::kSearchCompleted).arg(fl->topLevelItemCount()), MsgKind::Information,
                            MsgButtons::Ok);
}

void TSearchForm::lfCancel() {
  restoreIdle();
  if (ReportCancel) bsSkinMessage->MessageDlg(tr8(res::kSearchCancelled), MsgKind::Information, MsgButtons::Ok);
}

void TSearchForm::lfEnd() { restoreIdle(); }

void TSearchForm::TimerTimer() {
  if (Searching) labConsumedTime->setText(FormatElapsedLabel(SearchStart.msecsTo(QDateTime::currentDateTime())));
}

void TSearchForm::btnOKClick() {
  if (fl->selectedItems().isEmpty()) {
    bsSkinMessage->MessageDlg(tr8(res::kSelectResults), MsgKind::Error, MsgButtons::Ok);
    return;
  }
  closeRequest(1);
}

void TSearchForm::btnCancelClick() { closeRequest(0); }

void TSearchForm::reject() { closeRequest(0); }

void TSearchForm::closeRequest(int tag) {
  if (Searching) {
    if (bsSkinMessage->MessageDlg(tr8(res::kCancelSearchAndClose), MsgKind::Confirmation, MsgButtons::YesNo) !=
        MsgResult::Yes) {
      return;  // the search goes on
    }
    ReportCancel = false;
    lf.cancel();
  }
  Tag = tag;
  QDialog::done(tag == 1 ? QDialog::Accepted : QDialog::Rejected);
}

void TSearchForm::FormHelp() { btnHelpClick(); }

void TSearchForm::btnHelpClick() { ShellOpen(HelpFile); }

}  // namespace zelm
