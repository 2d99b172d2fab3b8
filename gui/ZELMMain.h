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

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
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
  TSkinMessage* bsSkinMessage;

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
  int runDepth_ = 0;
};

}  // namespace zelm
