#include "gui/ZELMMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <exception>

#include "gui/CmdLine.h"
#include "gui/DragEdit.h"
#include "gui/FileNames.h"
#include "gui/Look.h"
#include "gui/NamedWidgets.h"
#include "client/log_file.h"
#include "client/system_report.h"
#include "gui/RunText.h"
#include "gui/SearchFrm.h"
#include "gui/Shell.h"
#include "gui/ZELMMgfm.h"
#include "gui/ZELMPanel.h"
#include "gui/ZELMSetting.h"
#include "gui/ZelmStrings.h"

#ifndef ZELM_FILE_VERSION
#define ZELM_FILE_VERSION "0.0.0.0"
#endif

namespace zelm {
namespace {

// Geometry of the window, in window coordinates unless said otherwise.
constexpr int kHeaderHeight = 48;
constexpr int kBodyLeft = 7;
constexpr int kBodyTop = 56;
constexpr int kBodyWidth = 751;
constexpr int kBodyHeight = 412;
constexpr int kPad = 10;  // inner margin of a page body
constexpr int kContentRight = 733;  // right edge of page content, body coordinates
constexpr int kRowHeight = 24;
constexpr int kSmallButton = 26;
constexpr int kFormatListWidth = 150;
constexpr int kButtonHeight = 30;
constexpr int kStripLeft = 7;
constexpr int kStripHeight = 46;
constexpr int kGaugeHeight = 16;
constexpr int kStripWidthRepair = 733;
constexpr int kStripWidthBatch = 597;
constexpr int kStripBelowTarget = 40;  // strip bottom: gauge height + this below the target edit
constexpr int kStripBelowBatchTop = 87;  // strip bottom: gauge height + this below the batch body's top
constexpr int kSubTabWidth = 150;

QString tr8(const char* text) { return res::str(text); }

// Runs `action` when the scope ends, also by an exception.
template <class F>
class Finally {
 public:
  explicit Finally(F action) : action_(std::move(action)) {}
  ~Finally() { action_(); }
  Finally(const Finally&) = delete;
  Finally& operator=(const Finally&) = delete;

 private:
  F action_;
};

QCheckBox* makeCheck(QWidget* parent, const char* name, const char* caption) {
  auto* box = new QCheckBox(tr8(caption), parent);
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

QComboBox* makeFormatList(QWidget* parent, const char* name) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->addItems({tr8(res::kFormatAuto), tr8(res::kFormatAnsi), tr8(res::kFormatUnicode)});
  list->setCurrentIndex(0);
  return list;
}

TZELMPanel* makePage(QWidget* parent, const char* name, const char* role) {
  auto* page = new TZELMPanel(parent);
  page->setObjectName(QString::fromLatin1(name));
  page->setProperty(role, true);
  return page;
}

// A label placed with its natural width at (x, y), centred on a row.
int placeLabel(QLabel* label, int x, int y) {
  const int width = label->sizeHint().width();
  label->setGeometry(x, y, width, kRowHeight);
  return x + width;
}

}  // namespace

TZELMMainForm::TZELMMainForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("ZELMMainForm"));
  setStyleSheet(StyleSheet());
  setWindowIcon(ProgramIcon());
  bsSkinMessage = new TSkinMessage(this);
  Timer = new QTimer(this);
  Timer->setObjectName(QStringLiteral("Timer"));
  Timer->setInterval(kTimerInterval);
  connect(Timer, &QTimer::timeout, this, &TZELMMainForm::TimerTimer);

  buildHeader();
  buildRepairPage();
  buildBatchPage();
  buildOptionsPage();
  buildAboutPage();
  buildProgressStrip();

  btnHelp = makeButton(this, "btnHelp", tr8(res::kHelp));
  btnHelp->setGeometry(kBodyLeft + kContentRight - 100, kBodyTop + 372, 100, kButtonHeight);
  connect(btnHelp, &QPushButton::clicked, this, &TZELMMainForm::btnHelpClick);
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(f1, &QShortcut::activated, this, &TZELMMainForm::FormHelp);

  OpenDialog.FilterIndex = 1;
  SaveDialog.FilterIndex = 1;
  SaveDialog.OnTypeChange = [this] { SaveDialogTypeChange(); };

  // A window of its own, not a child: its components bear the same names as
  // some of this window's.
  SearchForm = std::make_unique<TSearchForm>();
}

TZELMMainForm::~TZELMMainForm() = default;

void TZELMMainForm::buildHeader() {
  palHeader = makePage(this, "palHeader", "header");
  palHeader->setGeometry(0, 0, kWidth, kHeaderHeight);
  struct Tab {
    QPushButton** button;
    const char* name;
    const char* caption;
  };
  const Tab tabs[] = {{&btnRepairTab, "btnRepairTab", res::kRepairTab},
                      {&btnBatchRepairTab, "btnBatchRepairTab", res::kBatchRepairTab},
                      {&btnOptionsTab, "btnOptionsTab", res::kOptionsTab},
                      {&btnAboutTab, "btnAboutTab", res::kAboutTab}};
  int x = kBodyLeft + 4;
  int tag = 1;
  for (const Tab& t : tabs) {
    QPushButton* button = makeButton(palHeader, t.name, tr8(t.caption));
    button->setCheckable(true);
    button->setProperty("tab", true);
    button->setProperty("tag", tag);
    const int width = qMax(120, button->sizeHint().width() + 16);
    button->setGeometry(x, 12, width, kHeaderHeight - 12);
    x += width + 4;
    connect(button, &QPushButton::clicked, this, [this, button] { MainTabChange(button); });
    *t.button = button;
    ++tag;
  }
}

void TZELMMainForm::buildRepairPage() {
  palRepairTab = makePage(this, "palRepairTab", "card");
  palRepairTab->setGeometry(kBodyLeft, kBodyTop, kBodyWidth, kBodyHeight);
  QWidget* page = palRepairTab;

  labSelSrcFile = makeLabel(page, "labSelSrcFile", QString());
  txtSrcFile = new TDragEdit(page);
  txtSrcFile->setObjectName(QStringLiteral("txtSrcFile"));
  btnSrcMore = makeButton(page, "btnSrcMore", tr8(res::kSrcMore));
  btnSrcSearch = makeButton(page, "btnSrcSearch", QString());
  btnSrcSearch->setIcon(SearchGlyph());
  for (QPushButton* small : {btnSrcMore, btnSrcSearch}) small->setProperty("small", true);
  labSrcFormat = makeLabel(page, "labSrcFormat", tr8(res::kSrcFormat));
  cmbSrcFormat = makeFormatList(page, "cmbSrcFormat");
  labSelDstFile = makeLabel(page, "labSelDstFile", QString());
  txtDstFile = new QLineEdit(page);
  txtDstFile->setObjectName(QStringLiteral("txtDstFile"));
  btnDstMore = makeButton(page, "btnDstMore", tr8(res::kSrcMore));
  btnDstMore->setProperty("small", true);
  labDstFormat = makeLabel(page, "labDstFormat", tr8(res::kDstFormat));
  cmbDstFormat = makeFormatList(page, "cmbDstFormat");
  labSrcFormat->setBuddy(cmbSrcFormat);
  labDstFormat->setBuddy(cmbDstFormat);

  const int formatLeft = kContentRight - kFormatListWidth;
  for (auto [label, list, y] : {std::tuple{labSrcFormat, cmbSrcFormat, 12}, std::tuple{labDstFormat, cmbDstFormat, 46}}) {
    list->setGeometry(formatLeft, y, kFormatListWidth, kRowHeight);
    label->setGeometry(formatLeft - 66, y, 60, kRowHeight);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  const int searchLeft = formatLeft - 66 - 10 - kSmallButton;
  btnSrcSearch->setGeometry(searchLeft, 12, kSmallButton, kRowHeight);
  btnSrcMore->setGeometry(searchLeft - 4 - kSmallButton, 12, kSmallButton, kRowHeight);
  btnDstMore->setGeometry(searchLeft - 4 - kSmallButton, 46, kSmallButton, kRowHeight);

  btnRepair = makeButton(page, "btnRepair", tr8(res::kStartRecovery));
  SetButtonSkin(btnRepair, kStartButtonSkin);
  btnRepair->setEnabled(false);
  btnRepair->setGeometry(kContentRight - 100 - 8 - 150, 372, 150, kButtonHeight);

  bsSkinLabel1 = makeLabel(page, "bsSkinLabel1", tr8(res::kLogHeading));
  bsSkinLabel1->setProperty("heading", true);
  bsSkinLabel1->setGeometry(kPad, 132, 300, 20);
  txtRepairLog = new QPlainTextEdit(page);
  txtRepairLog->setObjectName(QStringLiteral("txtRepairLog"));
  txtRepairLog->setReadOnly(true);
  txtRepairLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtRepairLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtRepairLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtRepairLog->setGeometry(kPad, 154, kContentRight - kPad, 208);
  btnSaveLog = makeButton(page, "btnSaveLog", tr8(res::kSaveLog));
  btnSaveLog->setGeometry(kPad, 372, 100, kButtonHeight);

  connect(txtSrcFile, &QLineEdit::textChanged, this, &TZELMMainForm::txtSrcFileChange);
  connect(txtDstFile, &QLineEdit::textChanged, this, &TZELMMainForm::txtDstFileChange);
  connect(txtSrcFile, &TDragEdit::OnDropFile, this, &TZELMMainForm::txtSrcFileDropFile);
  connect(btnSrcMore, &QPushButton::clicked, this, &TZELMMainForm::btnSrcMoreClick);
  connect(btnSrcSearch, &QPushButton::clicked, this, &TZELMMainForm::btnSrcSearchClick);
  connect(btnDstMore, &QPushButton::clicked, this, &TZELMMainForm::btnDstMoreClick);
  connect(btnRepair, &QPushButton::clicked, this, &TZELMMainForm::btnRepairClick);
  connect(btnSaveLog, &QPushButton::clicked, this, &TZELMMainForm::btnSaveLogClick);
  connect(cmbDstFormat, &QComboBox::currentIndexChanged, this, &TZELMMainForm::cmbDstFormatChange);
}

void TZELMMainForm::layoutSourceAndTarget() {
  const int editLeft = placeLabel(labSelSrcFile, kPad, 12) + 7;
  placeLabel(labSelDstFile, kPad, 46);
  const int editWidth = btnSrcMore->x() - 5 - editLeft;
  txtSrcFile->setGeometry(editLeft, 12, editWidth, kRowHeight);
  txtDstFile->setGeometry(editLeft, 46, editWidth, kRowHeight);
}

void TZELMMainForm::buildBatchPage() {
  palBatchRepairTab = makePage(this, "palBatchRepairTab", "card");
  palBatchRepairTab->setGeometry(kBodyLeft, kBodyTop, kBodyWidth, kBodyHeight);
  QWidget* page = palBatchRepairTab;

  labSrcFormatBatch = makeLabel(page, "labSrcFormatBatch", tr8(res::kSrcFormatBatch));
  cmbBatchSrcFormat = makeFormatList(page, "cmbBatchSrcFormat");
  labDstFormatBatch = makeLabel(page, "labDstFormatBatch", tr8(res::kDstFormatBatch));
  cmbBatchDstFormat = makeFormatList(page, "cmbBatchDstFormat");
  labSrcFormatBatch->setBuddy(cmbBatchSrcFormat);
  labDstFormatBatch->setBuddy(cmbBatchDstFormat);
  int x = placeLabel(labSrcFormatBatch, kPad, 12) + 6;
  cmbBatchSrcFormat->setGeometry(x, 12, kFormatListWidth, kRowHeight);
  x = placeLabel(labDstFormatBatch, x + kFormatListWidth + 24, 12) + 6;
  cmbBatchDstFormat->setGeometry(x, 12, kFormatListWidth, kRowHeight);

  // The list is as wide as its three columns; the buttons take the rest.
  const int columnLeft = kContentRight - 104;
  const int columnWidth = kContentRight - columnLeft;
  btnRepairFiles = makeButton(page, "btnRepairFiles", tr8(res::kStartRecovery));
  SetButtonSkin(btnRepairFiles, kStartButtonSkin);
  btnRepairFiles->setGeometry(kContentRight - 140, 9, 140, kButtonHeight);

  Label9 = makeLabel(page, "Label9", tr8(res::kFileListLabel));
  Label9->setProperty("heading", true);
  Label9->setGeometry(kPad, 108, 300, 20);
  FileList = new QTreeWidget(page);
  FileList->setObjectName(QStringLiteral("FileList"));
  FileList->setColumnCount(3);
  FileList->setHeaderLabels({tr8(res::kColSource), tr8(res::kColTarget), tr8(res::kColStatus)});
  // The status column is widened where this font would clip its caption;
  // the two file columns share what is left.
  const int statusWidth = qMax(89, FileList->fontMetrics().horizontalAdvance(tr8(res::kColStatus)) + 16);
  FileList->setColumnWidth(0, 262 - (statusWidth - 89) / 2);
  FileList->setColumnWidth(1, 262 - (statusWidth - 89 + 1) / 2);
  FileList->setColumnWidth(2, statusWidth);
  FileList->setRootIsDecorated(false);
  FileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  FileList->setSelectionBehavior(QAbstractItemView::SelectRows);
  FileList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FileList->setGeometry(kPad, 130, 262 + 262 + 89 + 2, 242);
  FileList->installEventFilter(this);
  Label9->setBuddy(FileList);

  struct Side {
    QPushButton** button;
    const char* name;
    const char* caption;
    const char* hint;
  };
  const Side side[] = {{&btnAddFiles, "btnAddFiles", res::kAddFiles, res::kHintAddFiles},
                       {&btnSearchFiles, "btnSearchFiles", res::kSearchFiles, res::kHintSearchFiles},
                       {&btnRemoveFiles, "btnRemoveFiles", res::kRemoveFiles, res::kHintRemoveFiles},
                       {&btnRemoveAll, "btnRemoveAll", res::kRemoveAll, res::kHintRemoveAll}};
  int y = 130;
  for (const Side& s : side) {
    *s.button = makeButton(page, s.name, tr8(s.caption));
    (*s.button)->setGeometry(columnLeft, y, columnWidth, kButtonHeight);
    y += kButtonHeight + 6;
  }

  connect(btnRepairFiles, &QPushButton::clicked, this, &TZELMMainForm::btnRepairFilesClick);
  connect(btnAddFiles, &QPushButton::clicked, this, &TZELMMainForm::btnAddFilesClick);
  connect(btnSearchFiles, &QPushButton::clicked, this, &TZELMMainForm::btnSearchFilesClick);
  connect(btnRemoveFiles, &QPushButton::clicked, this, &TZELMMainForm::btnRemoveFilesClick);
  connect(btnRemoveAll, &QPushButton::clicked, this, &TZELMMainForm::btnRemoveAllClick);
  connect(cmbBatchDstFormat, &QComboBox::currentIndexChanged, this, &TZELMMainForm::cmbDstFormatChange);
}

void TZELMMainForm::buildOptionsPage() {
  palOptionsTab = makePage(this, "palOptionsTab", "card");
  palOptionsTab->setGeometry(kBodyLeft, kBodyTop, kBodyWidth, kBodyHeight);
  QWidget* page = palOptionsTab;

  btnOptionsSubTab = makeButton(page, "btnOptionsSubTab", tr8(res::kOptionsSubTab));
  btnAdvOptionsSubTab = makeButton(page, "btnAdvOptionsSubTab", tr8(res::kAdvOptionsSubTab));
  int tag = 1;
  for (QPushButton* button : {btnOptionsSubTab, btnAdvOptionsSubTab}) {
    button->setCheckable(true);
    button->setProperty("subtab", true);
    button->setProperty("tag", tag);
    button->setGeometry(kPad, 12 + (tag - 1) * 36, kSubTabWidth, 32);
    connect(button, &QPushButton::clicked, this, [this, button] { SubTabChange(button); });
    ++tag;
  }

  const QRect subPage(kPad + kSubTabWidth + 8, 8, kContentRight - (kPad + kSubTabWidth + 8), kBodyHeight - 16);
  palOptionsSubTab = makePage(page, "palOptionsSubTab", "subpage");
  palAdvOptionsSubTab = makePage(page, "palAdvOptionsSubTab", "subpage");
  palOptionsSubTab->setGeometry(subPage);
  palAdvOptionsSubTab->setGeometry(subPage);

  // Options: the split line, then the check boxes top to bottom.
  QWidget* opt = palOptionsSubTab;
  constexpr int kStep = 32;
  int y = 6;
  chkSplitOversizePST = makeCheck(opt, "chkSplitOversizePST", res::kSplitOversizePST);
  chkSplitOversizePST->setGeometry(8, y, chkSplitOversizePST->sizeHint().width(), kRowHeight);
  txtPSTFileSizeLimit = new QSpinBox(opt);
  txtPSTFileSizeLimit->setObjectName(QStringLiteral("txtPSTFileSizeLimit"));
  txtPSTFileSizeLimit->setRange(1, 32767);
  txtPSTFileSizeLimit->setValue(1000);
  txtPSTFileSizeLimit->setGeometry(chkSplitOversizePST->geometry().right() + 9, y, 80, kRowHeight);
  labPSTFileSizeUnit = makeLabel(opt, "labPSTFileSizeUnit", tr8(res::kSizeUnit));
  placeLabel(labPSTFileSizeUnit, txtPSTFileSizeLimit->geometry().right() + 7, y);
  struct Box {
    QCheckBox** box;
    const char* name;
    const char* caption;
  };
  const Box boxes[] = {{&chkRecoverUnattchedAttach, "chkRecoverUnattchedAttach", res::kRecoverUnattchedAttach},
                       {&chkHeuristicRecoverRoot, "chkHeuristicRecoverRoot", res::kHeuristicRecoverRoot},
                       {&chkFastRecovery, "chkFastRecovery", res::kFastRecovery},
                       {&chkIgnoreZeroBlock, "chkIgnoreZeroBlock", res::kIgnoreZeroBlock},
                       {&chkAlwaysIPMSubtree, "chkAlwaysIPMSubtree", res::kAlwaysIPMSubtree},
                       {&chkRemoveEmptyFolder, "chkRemoveEmptyFolder", res::kRemoveEmptyFolder},
                       {&chkRecoverMultiPropInBatch, "chkRecoverMultiPropInBatch", res::kRecoverMultiPropInBatch},
                       {&chkOpenFixed, "chkOpenFixed", res::kOpenFixed}};
  for (const Box& b : boxes) {
    y += kStep;
    *b.box = makeCheck(opt, b.name, b.caption);
    (*b.box)->setGeometry(8, y, subPage.width() - 16, kRowHeight);
  }
  chkOpenFixed->hide();  // set by the command line only; it opens nothing in this product
  connect(chkSplitOversizePST, &QCheckBox::toggled, this, &TZELMMainForm::chkSplitOversizePSTClick);

  // Advanced options: the group of the five passes, the temporary folder,
  // the buffer size.
  QWidget* adv = palAdvOptionsSubTab;
  grpAdvancedRecovery = new QGroupBox(tr8(res::kAdvancedRecoveryGroup), adv);
  grpAdvancedRecovery->setObjectName(QStringLiteral("grpAdvancedRecovery"));
  grpAdvancedRecovery->setGeometry(8, 6, subPage.width() - 16, 196);
  const Box levels[] = {{&chkLevel1Recovery, "chkLevel1Recovery", res::kLevel1Recovery},
                        {&chkLevel2Recovery, "chkLevel2Recovery", res::kLevel2Recovery},
                        {&chkLevel3Recovery, "chkLevel3Recovery", res::kLevel3Recovery},
                        {&chkLevel4Recovery, "chkLevel4Recovery", res::kLevel4Recovery},
                        {&chkLevel5Recovery, "chkLevel5Recovery", res::kLevel5Recovery}};
  y = 28;
  for (const Box& b : levels) {
    *b.box = makeCheck(grpAdvancedRecovery, b.name, b.caption);
    (*b.box)->setGeometry(14, y, grpAdvancedRecovery->width() - 28, kRowHeight);
    y += 32;
  }
  y = 218;
  labTempDir = makeLabel(adv, "labTempDir", tr8(res::kTempDir));
  const int dirLeft = placeLabel(labTempDir, 8, y) + 8;
  txtTempDir = new QLineEdit(adv);
  txtTempDir->setObjectName(QStringLiteral("txtTempDir"));
  btnMoreDir = makeButton(adv, "btnMoreDir", tr8(res::kSrcMore));
  btnMoreDir->setProperty("small", true);
  const int dirRight = subPage.width() - 8;
  btnMoreDir->setGeometry(dirRight - kSmallButton, y, kSmallButton, kRowHeight);
  txtTempDir->setGeometry(dirLeft, y, dirRight - kSmallButton - 4 - dirLeft, kRowHeight);
  labTempDir->setBuddy(txtTempDir);
  y += 40;
  labBufSize = makeLabel(adv, "labBufSize", tr8(res::kBufSize));
  const int bufLeft = placeLabel(labBufSize, 8, y) + 8;
  txtBufSize = new QSpinBox(adv);
  txtBufSize->setObjectName(QStringLiteral("txtBufSize"));
  txtBufSize->setRange(1, 65536);
  txtBufSize->setValue(512);
  txtBufSize->setGeometry(bufLeft, y, 90, kRowHeight);
  labBufSize->setBuddy(txtBufSize);
  labBufSizeUnit = makeLabel(adv, "labBufSizeUnit", tr8(res::kBufSizeUnit));
  placeLabel(labBufSizeUnit, txtBufSize->geometry().right() + 7, y);
  connect(btnMoreDir, &QPushButton::clicked, this, &TZELMMainForm::btnMoreDirClick);
}

void TZELMMainForm::buildAboutPage() {
  palAboutTab = makePage(this, "palAboutTab", "card");
  palAboutTab->setGeometry(kBodyLeft, kBodyTop, kBodyWidth, kBodyHeight);
  QWidget* page = palAboutTab;
  imgProgramIcon = makeLabel(page, "imgProgramIcon", QString());
  imgProgramIcon->setPixmap(ProgramPixmap(96));
  imgProgramIcon->setGeometry(60, 60, 96, 96);
  labTitle = makeLabel(page, "labTitle", QString());
  labTitle->setGeometry(190, 62, 500, 44);
  labVersionPrompt = makeLabel(page, "labVersionPrompt", tr8(res::kVersionPrompt));
  const int versionLeft = placeLabel(labVersionPrompt, 192, 116) + 6;
  labVersion = makeLabel(page, "labVersion", QString());
  labVersion->setGeometry(versionLeft, 116, 200, kRowHeight);
  labAbout = makeLabel(page, "labAbout", tr8(res::kAboutText));
  labAbout->setWordWrap(true);
  labAbout->setGeometry(192, 156, 500, 60);
}

void TZELMMainForm::buildProgressStrip() {
  palProgress = makePage(this, "palProgress", "strip");
  palProgress->SetTransparent(true);
  labProgress = makeLabel(palProgress, "labProgress", QString());
  labConsumedTimePrompt = makeLabel(palProgress, "labConsumedTimePrompt", tr8(res::kConsumedTimePrompt));
  labConsumedTime = makeLabel(palProgress, "labConsumedTime", QString());
  Gauge = new QProgressBar(palProgress);
  Gauge->setObjectName(QStringLiteral("Gauge"));
  Gauge->setRange(0, 100);
  Gauge->setValue(0);
  Gauge->setTextVisible(false);
  Gauge->setFixedHeight(kGaugeHeight);
  auto* column = new QVBoxLayout(palProgress);
  column->setContentsMargins(kPad, 4, 0, 4);
  column->setSpacing(4);
  auto* line = new QHBoxLayout;
  line->setContentsMargins(0, 0, 0, 0);
  line->setSpacing(0);
  line->addWidget(labProgress);
  line->addStretch(1);
  line->addWidget(labConsumedTimePrompt);
  line->addWidget(labConsumedTime);
  column->addLayout(line);
  column->addWidget(Gauge);
  palProgress->setGeometry(kStripLeft, 0, kStripWidthRepair, kStripHeight);
}

void TZELMMainForm::SetButtonSkin(QPushButton* button, const char* skin) {
  button->setProperty("skin", QString::fromLatin1(skin));
  button->style()->unpolish(button);
  button->style()->polish(button);
  button->update();
}

// ---- Start-up and shut-down ----

void TZELMMainForm::FormCreate(const QStringList& arguments) {
  // 1. Title and help file.
  QGuiApplication::setApplicationDisplayName(tr8(res::kAppTitle));
  setWindowTitle(tr8(res::kAppTitle));
  helpFile_ = HelpFileName(ProgramFilePath());
  SearchForm->HelpFile = helpFile_;

  // 2. Fixed size, centred; the tab buttons are tab stops.
  setFixedSize(kWidth, kHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - QPoint(kWidth / 2, kHeight / 2));
  }
  for (QPushButton* button : {btnRepairTab, btnBatchRepairTab, btnOptionsTab, btnAboutTab, btnOptionsSubTab,
                              btnAdvOptionsSubTab}) {
    button->setFocusPolicy(Qt::StrongFocus);
  }

  // 3. Dialog filters.
  OpenDialog.Filter = tr8(res::kOpenFilter);
  SaveDialog.Filter = tr8(res::kSaveFilter);

  // 4. File labels, edits, progress and time.
  labSelSrcFile->setText(tr8(res::kSelSrcFile));
  labSelDstFile->setText(tr8(res::kSelDstFile));
  labSelSrcFile->setBuddy(txtSrcFile);
  labSelDstFile->setBuddy(txtDstFile);
  layoutSourceAndTarget();
  labProgress->setText(FormatProgress(0));
  labConsumedTime->setText(FormatElapsedLabel(0));

  // 5. About page and hints.
  labTitle->setText(tr8(res::kAppTitle));
  labVersion->setText(QStringLiteral(ZELM_FILE_VERSION));
  btnRepairTab->setToolTip(tr8(res::kHintRepairTab));
  btnBatchRepairTab->setToolTip(tr8(res::kHintBatchRepairTab));
  btnOptionsTab->setToolTip(tr8(res::kHintOptionsTab));
  btnAboutTab->setToolTip(tr8(res::kHintAboutTab));
  txtSrcFile->setToolTip(tr8(res::kHintSrcFile));
  btnSrcMore->setToolTip(tr8(res::kHintSrcMore));
  btnSrcSearch->setToolTip(tr8(res::kHintSrcSearch));
  txtDstFile->setToolTip(tr8(res::kHintDstFile));
  btnDstMore->setToolTip(tr8(res::kHintDstMore));
  btnAddFiles->setToolTip(tr8(res::kHintAddFiles));
  btnSearchFiles->setToolTip(tr8(res::kHintSearchFiles));
  btnRemoveFiles->setToolTip(tr8(res::kHintRemoveFiles));
  btnRemoveAll->setToolTip(tr8(res::kHintRemoveAll));

  // 6. Idle state, product set-up, first page, file drops.
  Timer->stop();
  Running = false;
  CurrentTab = 1;
  CurrentSubTab = 1;
  btnOptionsSubTab->setChecked(true);
  InitProduct();
  MainTabChange(btnRepairTab);
  txtSrcFile->AcceptFiles(true);
  created_ = true;

  // 7. Command line.
  const CommandLine line = ParseCommandLine(arguments);
  if (!line.hasArguments) return;
  show();
  if (!FileExists(line.source)) {
    MessageDlg(tr8(res::kCannotOpenFile).arg(line.source), MsgKind::Error, MsgButtons::Ok);
    return;
  }
  txtSrcFile->setText(line.source);
  chkOpenFixed->setChecked(line.openFixed);
  txtSrcFileChange();
  btnRepairClick();
  if (line.exitWhenDone) terminated_ = true;
}

void TZELMMainForm::FormDestroy() {
  if (!created_ || destroyed_) return;
  destroyed_ = true;
  DoneProduct();
}

void TZELMMainForm::FormHelp() { btnHelpClick(); }

void TZELMMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shownOnce_) {
    shownOnce_ = true;
    btnRepairTab->setFocus();
  }
}

void TZELMMainForm::closeEvent(QCloseEvent* event) {
  if (runDepth_ > 0) {
    // The engine call is still on the stack: ask it to stop and close once it
    // has returned.
    Running = false;
    closeWhenIdle_ = true;
    event->ignore();
    return;
  }
  closed_ = true;
  event->accept();
}

void TZELMMainForm::CloseMainWindow() {
  if (runDepth_ > 0) {
    closeWhenIdle_ = true;
    return;
  }
  close();
}

// ---- Default hooks ----

void TZELMMainForm::BuildEngineOptions(vexl::EngineOptions&) {}

std::int64_t TZELMMainForm::GetSourceFileSize(const QString& path) { return FileSizeOf(path); }

void TZELMMainForm::MainTabChanged(int) {}
void TZELMMainForm::SubTabChanged(int) {}
void TZELMMainForm::BeforeBatch() {}
void TZELMMainForm::AfterBatch() {}

// ---- Pages ----

void TZELMMainForm::MainTabChange(QAbstractButton* button) {
  CurrentTab = button->property("tag").toInt();
  // The four buttons act as a radio group; each stays a tab stop of its own.
  for (QPushButton* tab : {btnRepairTab, btnBatchRepairTab, btnOptionsTab, btnAboutTab}) {
    tab->setChecked(tab->property("tag").toInt() == CurrentTab);
  }
  for (QWidget* w : std::initializer_list<QWidget*>{palRepairTab, palBatchRepairTab, palOptionsTab, palAboutTab,
                                                    palProgress, btnHelp}) {
    w->hide();
  }
  switch (CurrentTab) {
    case 1: {
      btnRepairTab->setChecked(true);
      palRepairTab->show();
      const int targetBottom = txtDstFile->mapTo(this, QPoint(0, 0)).y() + txtDstFile->height();
      const int bottom = targetBottom + Gauge->height() + kStripBelowTarget;
      palProgress->setGeometry(kStripLeft, bottom - kStripHeight, kStripWidthRepair, kStripHeight);
      palProgress->show();
      palProgress->raise();
      btnHelp->show();
      break;
    }
    case 2: {
      btnBatchRepairTab->setChecked(true);
      palBatchRepairTab->show();
      const int bottom = palBatchRepairTab->y() + Gauge->height() + kStripBelowBatchTop;
      palProgress->setGeometry(kStripLeft, bottom - kStripHeight, kStripWidthBatch, kStripHeight);
      palProgress->show();
      palProgress->raise();
      btnHelp->show();
      break;
    }
    case 3:
      btnOptionsTab->setChecked(true);
      palOptionsTab->show();
      SubTabChange(CurrentSubTab == 2 ? btnAdvOptionsSubTab : btnOptionsSubTab);
      btnHelp->show();
      break;
    case 4:
      btnAboutTab->setChecked(true);
      palAboutTab->show();
      break;
    default:
      break;
  }
  btnHelp->raise();
  MainTabChanged(CurrentTab);
}

void TZELMMainForm::SubTabChange(QAbstractButton* button) {
  CurrentSubTab = button->property("tag").toInt();
  for (QPushButton* tab : {btnOptionsSubTab, btnAdvOptionsSubTab}) {
    tab->setChecked(tab->property("tag").toInt() == CurrentSubTab);
  }
  palOptionsSubTab->hide();
  palAdvOptionsSubTab->hide();
  if (CurrentSubTab == 2) {
    btnAdvOptionsSubTab->setChecked(true);
    palAdvOptionsSubTab->show();
  } else {
    btnOptionsSubTab->setChecked(true);
    palOptionsSubTab->show();
  }
  SubTabChanged(CurrentSubTab);
}

// ---- Source and target ----

void TZELMMainForm::updateRepairEnabled() {
  btnRepair->setEnabled(!txtSrcFile->text().trimmed().isEmpty() && !txtDstFile->text().trimmed().isEmpty());
}

void TZELMMainForm::txtSrcFileChange() {
  if (!txtSrcFile->text().isEmpty() && txtDstFile->text().isEmpty()) {
    txtDstFile->setText(MakeTargetName(txtSrcFile->text()));
    txtDstFile->setCursorPosition(0);
  }
  updateRepairEnabled();
}

void TZELMMainForm::txtDstFileChange() { updateRepairEnabled(); }

void TZELMMainForm::txtSrcFileDropFile(QObject*, const QString& fileName) { txtSrcFile->setText(fileName); }

void TZELMMainForm::btnSrcMoreClick() {
  OpenDialog.MultiSelect = false;
  OpenDialog.InitialDir = Settings->OpenDirectory;
  OpenDialog.FilterIndex = Settings->OpenFilterIndex;
  if (!OpenDialog.Execute(this)) return;
  QString folder = QFileInfo(OpenDialog.FileName).absolutePath();
  if (!folder.endsWith(u'/')) folder += u'/';
  Settings->OpenDirectory = folder;
  Settings->OpenFilterIndex = OpenDialog.FilterIndex;
  txtSrcFile->setText(OpenDialog.FileName);
}

void TZELMMainForm::btnDstMoreClick() {
  SaveDialog.FileName.clear();
  SaveDialog.FilterIndex = Settings->SaveFilterIndex;
  SaveDialogTypeChange();
  if (!SaveDialog.Execute(this)) return;
  Settings->SaveFilterIndex = SaveDialog.FilterIndex;
  txtDstFile->setText(SaveDialog.FileName);
}

void TZELMMainForm::SaveDialogTypeChange() {
  SaveDialog.DefaultExt = DefaultExtForFilter(SaveDialog.Filter, SaveDialog.FilterIndex);
}

bool TZELMMainForm::ShowSearchWindow(bool multiSelect) {
  if (SearchForm->styleSheet().isEmpty()) SearchForm->setStyleSheet(styleSheet());
  SearchForm->SetMultiSelect(multiSelect);
  SearchForm->Tag = 0;
  SearchForm->exec();
  return SearchForm->Tag == 1;
}

void TZELMMainForm::btnSrcSearchClick() {
  if (!ShowSearchWindow(false)) return;
  const QStringList chosen = SearchForm->SelectedFiles();
  if (!chosen.isEmpty()) txtSrcFile->setText(chosen.first());
}

void TZELMMainForm::cmbDstFormatChange(int index) {
  if (index == 2) MessageDlg(tr8(res::kOutlookWarning), MsgKind::Warning, MsgButtons::Ok);
}

// ---- The log ----

void TZELMMainForm::AddLog(const QString& line) {
  logLines_ << line;
  txtRepairLog->appendPlainText(line);
}

void TZELMMainForm::AddSeparator() { AddLog(QString::fromLatin1(vexl::kSeparatorLine)); }

void TZELMMainForm::ClearLog() {
  logLines_.clear();
  txtRepairLog->clear();
}

MsgResult TZELMMainForm::MessageDlg(const QString& text, MsgKind kind, MsgButtons buttons) {
  return bsSkinMessage->MessageDlg(text, kind, buttons);
}

void TZELMMainForm::runModal(TZELMMsgForm& dialog) {
  if (modalRunner_) {
    modalRunner_(dialog);
    return;
  }
  dialog.exec();
}

// ---- The single-file run ----

void TZELMMainForm::btnRepairClick() {
  if (Running) {
    Running = false;  // the engine sees it at its next abort query
    return;
  }
  Running = true;
  ++runDepth_;
  btnRepair->setText(tr8(res::kStopRecovery));
  SetButtonSkin(btnRepair, kStopButtonSkin);
  ClearLog();
  txtRepairLog->repaint();
  BeforeRun();

  const QString source = txtSrcFile->text();
  const QString target = txtDstFile->text();
  runSource_ = source;
  bool outcome = false;
  QString failure;
  {
    Finally restore([this] {
      Running = false;
      btnRepair->setText(tr8(res::kStartRecovery));
      SetButtonSkin(btnRepair, kStartButtonSkin);
      Timer->stop();
      AfterRun();
      --runDepth_;
    });
    try {
      AddLog(tr8(res::kLogStart));
      AddSeparator();
      bool proceed = true;
      if (TargetIsFile() && FileExists(target)) {
        if (MessageDlg(tr8(res::kAskOverwrite).arg(target), MsgKind::Confirmation, MsgButtons::YesNo) !=
            MsgResult::Yes) {
          AddLog(tr8(res::kLogAborted));
          proceed = false;
        }
      }
      if (proceed) {
        AddLog(tr8(res::kLogSourceFile).arg(source, FormatByteCount(GetSourceFileSize(source))));
        AddLog(tr8(res::kLogTargetFile).arg(target));
        AddSeparator();
        StartTime = QDateTime::currentDateTime();
        Timer->start();
        labConsumedTime->setText(FormatElapsedLabel(0));

        outcome = RunRecovery(source, target);

        AddSeparator();
        Timer->stop();
        AddLog(FormatConsumedTime(StartTime.msecsTo(QDateTime::currentDateTime())));
        AddSeparator();
        AddLog(tr8(res::kLogCompletes));
        AddSeparator();
        const bool stopped = !Running;
        const QString closing = stopped    ? tr8(res::kUserAborts)
                                : !outcome ? tr8(res::kFailRecover).arg(source)
                                           : BuildSuccessReport();
        AddLog(closing);
        if (stopped || !outcome) {
          MessageDlg(closing, MsgKind::Information, MsgButtons::Ok);
        } else {
          std::unique_ptr<TZELMMsgForm> dialog = CreateResultDialog(closing);
          runModal(*dialog);
        }
      }
    } catch (const std::exception& error) {
      failure = QString::fromLocal8Bit(error.what());
      outcome = false;
    } catch (...) {
      failure = tr8(res::kUnexpectedError);
      outcome = false;
    }
  }
  if (!failure.isEmpty()) MessageDlg(failure, MsgKind::Error, MsgButtons::Ok);

  if (outcome && CanOpenTarget() && chkOpenFixed->isChecked() && !ShellOpen(target)) {
    MessageDlg(tr8(res::kCannotOpenPst).arg(target), MsgKind::Error, MsgButtons::Ok);
  }
  if (closeWhenIdle_ && runDepth_ == 0) {
    closeWhenIdle_ = false;
    close();
  }
}

void TZELMMainForm::TimerTimer() {
  if (Running) labConsumedTime->setText(FormatElapsedLabel(StartTime.msecsTo(QDateTime::currentDateTime())));
}

bool TZELMMainForm::OnMessage(std::int32_t code, void* data) {
  switch (code) {
    case vexl::Progress: {
      if (data != nullptr) {
        const unsigned value = *static_cast<const std::uint8_t*>(data);
        if (Gauge->value() != static_cast<int>(value)) {
          Gauge->setValue(static_cast<int>(value));
          labProgress->setText(FormatProgress(value));
        }
      }
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      return false;
    }
    case vexl::QueryAbort:
      return !Running;
    default:
      HandleEngineEvent(code, data);
      return false;
  }
}

void TZELMMainForm::btnHelpClick() { ShellOpen(helpFile_); }

// ---- The saved log ----

void TZELMMainForm::BuildSystemInfo(QStringList& list) {
  std::vector<std::string> lines;
  const vexl::client::SystemFacts facts = vexl::client::collectSystemFacts(ZELM_FILE_VERSION, ZELM_FILE_VERSION);
  vexl::client::appendSystemInfo(lines, facts, [](std::uint64_t bytes) {
    return FormatByteCount(static_cast<std::int64_t>(bytes)).toStdString();
  });
  for (const std::string& line : lines) list << QString::fromStdString(line);
}

void TZELMMainForm::btnSaveLogClick() {
  if (!SaveLogDialog.Execute(this)) return;
  QStringList lines;
  if (SaveLogDialog.IncludeSysInfo()) {
    lines << QString::fromLatin1(vexl::kSeparatorLine);
    BuildSystemInfo(lines);
    AddSettingInfo(lines);
  }
  lines << logLines_;
  std::vector<std::string> text;
  text.reserve(static_cast<std::size_t>(lines.size()));
  for (const QString& line : lines) text.push_back(line.toStdString());
  std::string error;
  if (!vexl::client::saveLogFile(QFile::encodeName(SaveLogDialog.FileName).toStdString(), text, error)) {
    MessageDlg(tr8(res::kCannotSaveLog).arg(SaveLogDialog.FileName, QString::fromLocal8Bit(error)), MsgKind::Error,
               MsgButtons::Ok);
  }
}

// ---- The batch page ----

namespace {

enum BatchColumn { kSourceColumn, kTargetColumn, kStatusColumn };

}  // namespace

void TZELMMainForm::AddFileToList(const QString& path) {
  if (batchRunning_) return;
  for (int row = 0; row < FileList->topLevelItemCount(); ++row) {
    if (FileList->topLevelItem(row)->text(kSourceColumn).compare(path, Qt::CaseInsensitive) == 0) {
      MessageDlg(tr8(res::kAlreadyInList), MsgKind::Error, MsgButtons::Ok);
      return;
    }
  }
  auto* item = new QTreeWidgetItem(FileList);
  item->setText(kSourceColumn, path);
  item->setText(kTargetColumn, MakeTargetName(path));
  item->setText(kStatusColumn, tr8(res::kStatusNotRecovered));
}

void TZELMMainForm::btnAddFilesClick() {
  if (batchRunning_) return;
  const bool multiSelect = OpenDialog.MultiSelect;
  OpenDialog.MultiSelect = true;
  OpenDialog.FilterIndex = Settings->OpenFilterIndex;
  const bool chosen = OpenDialog.Execute(this);
  OpenDialog.MultiSelect = multiSelect;
  if (!chosen) return;
  Settings->OpenFilterIndex = OpenDialog.FilterIndex;
  for (const QString& file : OpenDialog.Files) AddFileToList(file);
}

void TZELMMainForm::btnSearchFilesClick() {
  if (batchRunning_) return;
  if (!ShowSearchWindow(true)) return;
  for (const QString& file : SearchForm->SelectedFiles()) AddFileToList(file);
}

void TZELMMainForm::btnRemoveFilesClick() {
  if (batchRunning_) return;
  for (int row = FileList->topLevelItemCount() - 1; row >= 0; --row) {
    if (FileList->topLevelItem(row)->isSelected()) delete FileList->takeTopLevelItem(row);
  }
}

void TZELMMainForm::btnRemoveAllClick() {
  if (batchRunning_) return;
  FileList->clear();
}

bool TZELMMainForm::FileListKeyDown(QKeyEvent* event) {
  if (event->key() != Qt::Key_Delete) return false;
  if (event->modifiers() & Qt::ShiftModifier) {
    btnRemoveAllClick();
  } else {
    btnRemoveFilesClick();
  }
  return true;
}

bool TZELMMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FileList && event->type() == QEvent::KeyPress && FileListKeyDown(static_cast<QKeyEvent*>(event))) {
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TZELMMainForm::setBatchEditsEnabled(bool enabled) {
  for (QPushButton* button : {btnAddFiles, btnSearchFiles, btnRemoveFiles, btnRemoveAll}) button->setEnabled(enabled);
}

TZELMMainForm::OverwriteAnswer TZELMMainForm::ConfirmOverwrite(const QString& target, bool& yesToAll,
                                                               bool& noToAll) {
  OverwriteAnswer answer;
  if (!FileExists(target)) {
    answer.proceed = true;
    return answer;
  }
  if (noToAll) return answer;
  if (yesToAll) {
    answer.proceed = true;
    return answer;
  }
  const QString name = QFileInfo(target).fileName();
  switch (MessageDlg(tr8(res::kAskOverwrite).arg(name), MsgKind::Confirmation, MsgButtons::YesNoCancelAll)) {
    case MsgResult::Yes:
      answer.proceed = true;
      break;
    case MsgResult::YesToAll:
      yesToAll = true;
      answer.proceed = true;
      break;
    case MsgResult::NoToAll:
      noToAll = true;
      break;
    case MsgResult::No:
      break;
    default:  // Cancel, or the box closed otherwise
      answer.cancel = true;
      break;
  }
  return answer;
}

void TZELMMainForm::btnRepairFilesClick() {
  // Either start button stops a run in progress.
  if (Running) {
    Running = false;
    return;
  }
  if (FileList->topLevelItemCount() == 0) {
    MessageDlg(tr8(res::kAddFilesFirst), MsgKind::Information, MsgButtons::Ok);
    return;
  }
  Running = true;
  batchRunning_ = true;
  ++runDepth_;
  setBatchEditsEnabled(false);
  btnRepairFiles->setText(tr8(res::kStopRecovery));
  SetButtonSkin(btnRepairFiles, kStopButtonSkin);
  ClearLog();
  bool yesToAll = false;
  bool noToAll = false;
  StartTime = QDateTime::currentDateTime();
  Timer->start();
  labConsumedTime->setText(FormatElapsedLabel(0));
  for (int row = 0; row < FileList->topLevelItemCount(); ++row) {
    FileList->topLevelItem(row)->setText(kStatusColumn, tr8(res::kStatusNotRecovered));
  }
  BeforeBatch();
  int succeeded = 0;
  QString failure;
  {
    Finally restore([this] {
      Running = false;
      btnRepairFiles->setText(tr8(res::kStartRecovery));
      SetButtonSkin(btnRepairFiles, kStartButtonSkin);
      ClearLog();
      Timer->stop();
      batchRunning_ = false;
      setBatchEditsEnabled(true);
      AfterBatch();
      --runDepth_;
    });
    // The rows cannot change while the batch runs (see BatchRunning), so the
    // count and positions taken here stay valid.
    const int count = FileList->topLevelItemCount();
    QTreeWidgetItem* current = nullptr;
    try {
      for (int row = 0; row < count; ++row) {
        if (!Running) break;
        current = FileList->topLevelItem(row);
        const QString source = current->text(kSourceColumn);
        const QString target = current->text(kTargetColumn);
        if (TargetIsFile()) {
          const OverwriteAnswer answer = ConfirmOverwrite(target, yesToAll, noToAll);
          if (answer.cancel) break;
          if (!answer.proceed) continue;
        }
        BeforeRun();
        bool recovered = false;
        {
          Finally after([this] { AfterRun(); });
          recovered = RunRecovery(source, target);
        }
        if (recovered) ++succeeded;
        current->setText(kStatusColumn, tr8(recovered ? res::kStatusSuccessful
                                            : Running ? res::kStatusFailed
                                                      : res::kStatusAborted));
        current = nullptr;
      }
      Timer->stop();
      MessageDlg(tr8(res::kBatchSummary).arg(succeeded), MsgKind::Information, MsgButtons::Ok);
    } catch (const std::exception& error) {
      failure = QString::fromLocal8Bit(error.what());
    } catch (...) {
      failure = tr8(res::kUnexpectedError);
    }
    // A file whose recovery raised did not come through.
    if (!failure.isEmpty() && current != nullptr) {
      current->setText(kStatusColumn, tr8(Running ? res::kStatusFailed : res::kStatusAborted));
    }
  }
  if (!failure.isEmpty()) MessageDlg(failure, MsgKind::Error, MsgButtons::Ok);
  if (closeWhenIdle_ && runDepth_ == 0) {
    closeWhenIdle_ = false;
    close();
  }
}

// ---- Option pages ----

void TZELMMainForm::btnMoreDirClick() {
  QString directory = txtTempDir->text();
  if (SelectDirectory(this, tr8(res::kSelectTempDir), directory)) txtTempDir->setText(directory);
}

void TZELMMainForm::chkSplitOversizePSTClick() { txtPSTFileSizeLimit->setEnabled(chkSplitOversizePST->isChecked()); }

}  // namespace zelm
