// The generic recovery-program window: pages, file pickers, the run and stop
// logic, the log, the timer and the engine's callback entry. Every product
// decision is left to the virtual hooks, which the product window fills.
#pragma once

#include <QDateTime>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "client/TRELD.h"
#include "gui/FileDialogs.h"
#include "gui/SkinMessage.h"
#include "gui/logdlg.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;
class QTreeWidget;

namespace zelm {

class TDragEdit;
class TSearchForm;
class TZELMMsgForm;
class TZELMPanel;
class TZELMSetting;

class TZELMMainForm : public QWidget, public vexl::client::EngineEvents {
  Q_OBJECT

 public:
  static constexpr int kWidth = 765;
  static constexpr int kHeight = 475;
  static constexpr int kTimerInterval = 60000;

  explicit TZELMMainForm(QWidget* parent = nullptr);
  ~TZELMMainForm() override;

  // Hooks, in slot order. The first twelve belong to the product.
  virtual void HandleEngineEvent(std::int32_t code, void* data) = 0;
  virtual QString MakeTargetName(const QString& source) = 0;
  virtual bool TargetIsFile() = 0;
  virtual bool RunRecovery(const QString& source, const QString& target) = 0;
  virtual void BeforeRun() = 0;
  virtual void AfterRun() = 0;
  virtual QString BuildSuccessReport() = 0;
  virtual std::unique_ptr<TZELMMsgForm> CreateResultDialog(const QString& text) = 0;
  virtual bool CanOpenTarget() = 0;
  virtual void InitProduct() = 0;
  virtual void DoneProduct() = 0;
  virtual void AddSettingInfo(QStringList& list) = 0;
  virtual void BuildEngineOptions(vexl::EngineOptions& options);
  virtual std::int64_t GetSourceFileSize(const QString& path);
  virtual void MainTabChanged(int tab);
  virtual void SubTabChanged(int subTab);
  virtual void BeforeBatch();
  virtual void AfterBatch();

  // The window side of the engine's callback: progress and the abort query
  // are answered here, every other code goes to HandleEngineEvent.
  bool OnMessage(std::int32_t code, void* data);
  bool onMessage(std::int32_t code, void* data) override { return OnMessage(code, data); }

  // Window state.
  bool Running = false;  // a run is in progress; cleared to request a stop
  QDateTime StartTime;
  int CurrentTab = 1;  // 1 recovery, 2 batch, 3 options, 4 about
  int CurrentSubTab = 1;  // 1 options, 2 advanced options
  std::unique_ptr<TZELMSetting> Settings;

  // Components.
  TZELMPanel* palHeader;
  QPushButton* btnRepairTab;
  QPushButton* btnBatchRepairTab;
  QPushButton* btnOptionsTab;
  QPushButton* btnAboutTab;
  TZELMPanel* palRepairTab;
  TZELMPanel* palBatchRepairTab;
  TZELMPanel* palOptionsTab;
  TZELMPanel* palAboutTab;
  QPushButton* btnOptionsSubTab;
  QPushButton* btnAdvOptionsSubTab;
  TZELMPanel* palOptionsSubTab;
  TZELMPanel* palAdvOptionsSubTab;
  TZELMPanel* palProgress;
  QLabel* labProgress;
  QLabel* labConsumedTimePrompt;
  QLabel* labConsumedTime;
  QProgressBar* Gauge;
  QPushButton* btnHelp;
  QTimer* Timer;
  TOpenDialog OpenDialog;
  TSaveDialog SaveDialog;
  TSaveLogDialog SaveLogDialog;
  TSkinMessage* bsSkinMessage;
  std::unique_ptr<TSearchForm> SearchForm;  // created with the window, reused for every search

  // Single-file page.
  QLabel* labSelSrcFile;
  TDragEdit* txtSrcFile;
  QPushButton* btnSrcMore;
  QPushButton* btnSrcSearch;
  QLabel* labSrcFormat;
  QComboBox* cmbSrcFormat;
  QLabel* labSelDstFile;
  QLineEdit* txtDstFile;
  QPushButton* btnDstMore;
  QLabel* labDstFormat;
  QComboBox* cmbDstFormat;
  QPushButton* btnRepair;
  QLabel* bsSkinLabel1;
  QPlainTextEdit* txtRepairLog;
  QPushButton* btnSaveLog;

  // Batch page.
  QLabel* labSrcFormatBatch;
  QComboBox* cmbBatchSrcFormat;
  QLabel* labDstFormatBatch;
  QComboBox* cmbBatchDstFormat;
  QPushButton* btnRepairFiles;
  QLabel* Label9;
  QTreeWidget* FileList;
  QPushButton* btnAddFiles;
  QPushButton* btnSearchFiles;
  QPushButton* btnRemoveFiles;
  QPushButton* btnRemoveAll;

  // Option pages.
  QCheckBox* chkOpenFixed;
  QCheckBox* chkSplitOversizePST;
  QSpinBox* txtPSTFileSizeLimit;
  QLabel* labPSTFileSizeUnit;
  QCheckBox* chkRecoverUnattchedAttach;
  QCheckBox* chkHeuristicRecoverRoot;
  QCheckBox* chkFastRecovery;
  QCheckBox* chkIgnoreZeroBlock;
  QCheckBox* chkAlwaysIPMSubtree;
  QCheckBox* chkRemoveEmptyFolder;
  QCheckBox* chkRecoverMultiPropInBatch;
  QGroupBox* grpAdvancedRecovery;
  QCheckBox* chkLevel1Recovery;
  QCheckBox* chkLevel2Recovery;
  QCheckBox* chkLevel3Recovery;
  QCheckBox* chkLevel4Recovery;
  QCheckBox* chkLevel5Recovery;
  QLabel* labTempDir;
  QLineEdit* txtTempDir;
  QPushButton* btnMoreDir;
  QLabel* labBufSize;
  QSpinBox* txtBufSize;
  QLabel* labBufSizeUnit;

  // About page.
  QLabel* imgProgramIcon;
  QLabel* labTitle;
  QLabel* labVersionPrompt;
  QLabel* labVersion;
  QLabel* labAbout;

  // The recovery log, one entry per line as written.
  const QStringList& LogLines() const { return logLines_; }
  void AddLog(const QString& line);
  void AddSeparator();
  void ClearLog();

  // The batch list. Rows are added only here; a path already in the list,
  // compared without regard to case, is refused with an error.
  void AddFileToList(const QString& path);
  // Whether the batch run may recover `target`: proceed, skip, or end the
  // batch (cancel). The "to all" answers are kept in the two flags.
  struct OverwriteAnswer {
    bool proceed = false;
    bool cancel = false;
  };
  OverwriteAnswer ConfirmOverwrite(const QString& target, bool& yesToAll, bool& noToAll);
  // A batch is on the stack; the list cannot be edited meanwhile, since the
  // run addresses its rows by position.
  bool BatchRunning() const { return batchRunning_; }

  // Appends the report on this computer that a saved log can begin with.
  void BuildSystemInfo(QStringList& list);

  // Shows the search window modally in single or multiple selection; true
  // when it was closed with OK and a selection.
  bool ShowSearchWindow(bool multiSelect);

  // Every message of the window goes through here.
  MsgResult MessageDlg(const QString& text, MsgKind kind, MsgButtons buttons);

  // Shows a result dialog modally. Tests may replace how.
  using ModalRunner = std::function<void(TZELMMsgForm&)>;
  void SetModalRunner(ModalRunner runner) { modalRunner_ = std::move(runner); }

  // The application help file (the HTML file beside the program).
  QString HelpFile() const { return helpFile_; }

  // True when the program should end instead of entering its event loop: the
  // command line asked to exit after its run, or the window has been closed.
  bool Terminated() const { return terminated_ || closed_; }

  // The source of the single-file run in progress or last run, as typed.
  const QString& RunSource() const { return runSource_; }

  // Closes the window now, or as soon as the run on the stack has ended.
  void CloseMainWindow();

  // Makes a start button look like a start or a stop button.
  static void SetButtonSkin(QPushButton* button, const char* skin);

 public slots:
  // Steps of start-up; `arguments` is the command line without the program.
  void FormCreate(const QStringList& arguments);
  void FormDestroy();
  void FormHelp();

  void MainTabChange(QAbstractButton* button);
  void SubTabChange(QAbstractButton* button);

  void txtSrcFileChange();
  void txtDstFileChange();
  void txtSrcFileDropFile(QObject* sender, const QString& fileName);

  void btnSrcMoreClick();
  void btnDstMoreClick();
  void SaveDialogTypeChange();
  void btnSrcSearchClick();

  void btnRepairClick();
  void TimerTimer();
  void btnHelpClick();

  void btnSaveLogClick();
  void btnAddFilesClick();
  void btnRemoveFilesClick();
  void btnRemoveAllClick();
  void btnRepairFilesClick();
  void btnSearchFilesClick();

  void btnMoreDirClick();
  void chkSplitOversizePSTClick();
  void cmbDstFormatChange(int index);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Delete removes the selected rows of FileList, Shift+Delete all rows.
  bool FileListKeyDown(QKeyEvent* event);

 private:
  void buildHeader();
  void buildRepairPage();
  void buildBatchPage();
  void buildOptionsPage();
  void buildAboutPage();
  void buildProgressStrip();
  void layoutSourceAndTarget();
  void updateRepairEnabled();
  void runModal(TZELMMsgForm& dialog);
  void setBatchEditsEnabled(bool enabled);

  QStringList logLines_;
  QString runSource_;
  ModalRunner modalRunner_;
  QString helpFile_;
  bool created_ = false;
  bool destroyed_ = false;
  bool shownOnce_ = false;
  bool terminated_ = false;
  bool closed_ = false;
  bool closeWhenIdle_ = false;
  bool batchRunning_ = false;
  int runDepth_ = 0;
};

}  // namespace zelm
