// The search window: finds source files on the local fixed drives or under
// chosen folders, lists them with size and times, and hands the user's
// choice back to the main window. Created once and reused, so criteria and
// results stay between openings. The search runs on the GUI thread and
// processes pending messages once per folder.
#pragma once

#include <QDateTime>
#include <QDialog>
#include <QStringList>

#include "client/file_search.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;
class QTreeWidget;

namespace zelm {

class TSkinMessage;
class TZELMPanel;

// A file time as the result list shows it: local time in the short date and
// long time formats of the user's locale.
QString FormatSearchTime(const QDateTime& time);

class TSearchForm : public QDialog, private vexl::client::SearchEvents {
  Q_OBJECT

 public:
  static constexpr int kWidth = 765;
  static constexpr int kHeight = 505;
  static constexpr int kMinWidth = 757;
  static constexpr int kMinHeight = 497;
  static constexpr int kAdvOptionsHeight = 131;
  static constexpr int kAdvOptionsShift = 65;  // the window moves by this when the panel opens or closes
  static constexpr int kTimerInterval = 60000;

  explicit TSearchForm(QWidget* parent = nullptr);
  ~TSearchForm() override;

  // Single selection for the single-file page, multiple for the batch list.
  void SetMultiSelect(bool multiple);
  // Folder and name of every selected result, in list order.
  QStringList SelectedFiles() const;
  // The entry of cmbDirectory that stands for all fixed drives.
  QString LocalHarddrivesEntry() const;

  // Window state.
  QString FixedDrives;  // "/;/home;"
  bool Searching = false;
  bool ReportCancel = true;
  QDateTime SearchStart;
  int Tag = 0;  // 1 when closed with OK and a selection
  QString HelpFile;

  TSkinMessage* bsSkinMessage;
  QTimer* Timer;
  vexl::client::FileSearch lf;

  // Header.
  TZELMPanel* palHeader;
  QLabel* imgHeader;
  QLabel* labBanner;

  // Criteria.
  QLabel* labSearchFileNamePrompt;
  QComboBox* cmbFileName;
  QLabel* Label1;
  QComboBox* cmbDirectory;
  QPushButton* btnSelectDir;
  QCheckBox* RecurseSubDirs;
  QPushButton* btnSearch;
  QLabel* labAdvOptionsPrompt;
  QPushButton* btnAdvOptions;

  // Advanced panel.
  QWidget* palAdvOptions;
  QGroupBox* gbFileSize;
  QCheckBox* chkFileMinSize;
  QSpinBox* txtMinSize;
  QCheckBox* chkFileMaxSize;
  QSpinBox* txtMaxSize;
  QGroupBox* gbFileAttr;
  QCheckBox* chkFileReadOnlyAttr;
  QCheckBox* chkFileHiddenAttr;
  QCheckBox* chkFileSystemAttr;
  QCheckBox* chkFileArchiveAttr;
  QGroupBox* gbFileTime;
  QCheckBox* chkFileCreatedTime;
  QSpinBox* txtFileCreatedTime;
  QCheckBox* chkFileLastAccessedTime;
  QSpinBox* txtFileLastAccessedTime;
  QCheckBox* chkFileModifiedTime;
  QSpinBox* txtFileModifiedTime;

  // Results and progress.
  QLabel* Label5;
  QTreeWidget* fl;
  QLabel* labProgress;
  QLabel* labConsumedTimePrompt;
  QLabel* labConsumedTime;
  QLabel* labDir;
  QProgressBar* Gauge;
  QPushButton* btnOK;
  QPushButton* btnCancel;
  QPushButton* btnHelp;

 public slots:
  void FormCreate();
  void FormHelp();
  void btnSearchClick();
  void btnSelectDirClick();
  void btnAdvOptionsClick();
  void SetAdvOptControls();
  void btnOKClick();
  void btnCancelClick();
  void btnHelpClick();
  void TimerTimer();
  // Escape and the window's close box come here: the close request.
  void reject() override;

 protected:
  void lfFound(const vexl::client::FoundFile& file);
  void lfDirChange(const QString& folder);
  void lfFinished();
  void lfCancel();
  void lfEnd();

 private:
  void buildCriteria(QWidget* area);
  void buildAdvancedPanel();
  void ResetResults();
  void restoreIdle();
  // Closes with `tag` unless a search runs and the user wants it to go on.
  void closeRequest(int tag);
  vexl::client::SearchCriteria criteriaFromControls() const;

  void folderEntered(const std::string& folder) override;
  void found(const vexl::client::FoundFile& file) override;

  QString fileNameFilter_;
};

}  // namespace zelm
