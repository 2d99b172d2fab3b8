#include "gui/MainFrm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "gui/FileNames.h"
#include "gui/MsgFrm.h"
#include "gui/Setting.h"
#include "gui/ZelmStrings.h"

namespace zelm {
namespace {

constexpr std::int32_t kOn = -1;  // what the engine options carry for a checked box
constexpr std::uint8_t kOfflineSource = 1;

std::int32_t flag(const QCheckBox* box) { return box->isChecked() ? kOn : 0; }

std::uint8_t formatIndex(const QComboBox* list) {
  // A list without a selection passes 255, which the engine reads as ANSI.
  return static_cast<std::uint8_t>(list->currentIndex());
}

QString text(const void* data) { return data != nullptr ? QString::fromLocal8Bit(static_cast<const char*>(data)) : QString(); }

}  // namespace

TMainForm::TMainForm(QWidget* parent) : TZELMMainForm(parent) {}

TMainForm::~TMainForm() { FormDestroy(); }

TSetting* TMainForm::Setting() const { return static_cast<TSetting*>(Settings.get()); }

void TMainForm::HandleEngineEvent(std::int32_t code, void* data) {
  switch (code) {
    case vexl::LogLine: {
      const QString line = text(data);
      if (line == QStringLiteral("-")) {
        AddSeparator();
      } else {
        AddLog(line);
      }
      break;
    }
    case vexl::ErrorText:
      AddSeparator();
      AddLog(text(data));
      AddSeparator();
      break;
    case vexl::RecoveredCount:
      if (data != nullptr) RecoveredCount = *static_cast<const std::int32_t*>(data);
      break;
    case vexl::CloseMainWindow:
      CloseMainWindow();
      break;
    case vexl::ShowMessage:
      MessageDlg(text(data), MsgKind::Information, MsgButtons::Ok);
      break;
    default:  // SourceFile and codes this window does not know
      break;
  }
}

QString TMainForm::MakeTargetName(const QString& source) { return zelm::MakeTargetName(source); }

bool TMainForm::TargetIsFile() { return true; }

bool TMainForm::RunRecovery(const QString& source, const QString& target) {
  vexl::EngineOptions options{};
  BuildEngineOptions(options);
  return vexl::client::runRecovery(source.toLocal8Bit().toStdString(), options, target.toLocal8Bit().toStdString(),
                                   this) == 1;
}

void TMainForm::BuildEngineOptions(vexl::EngineOptions& options) {
  options = vexl::EngineOptions{};
  if (CurrentTab == 1) {
    options.SrcFormat = formatIndex(cmbSrcFormat);
    options.DstFormat = formatIndex(cmbDstFormat);
  } else if (CurrentTab == 2) {
    options.SrcFormat = formatIndex(cmbBatchSrcFormat);
    options.DstFormat = formatIndex(cmbBatchDstFormat);
  }
  options.FastRecovery = flag(chkFastRecovery);
  options.HeuristicRecoverRoot = flag(chkHeuristicRecoverRoot);
  options.RecoverUnattchedAttach = flag(chkRecoverUnattchedAttach);
  options.SplitOversizePST = flag(chkSplitOversizePST);
  options.PSTFileSizeLimit = txtPSTFileSizeLimit->value();
  options.IgnoreZeroBlock = flag(chkIgnoreZeroBlock);
  options.AlwaysIPMSubtree = flag(chkAlwaysIPMSubtree);
  options.RemoveEmptyFolder = flag(chkRemoveEmptyFolder);
  options.RecoverMultiPropInBatch = flag(chkRecoverMultiPropInBatch);
  options.Level1Recovery = flag(chkLevel1Recovery);
  options.Level2Recovery = flag(chkLevel2Recovery);
  options.Level3Recovery = flag(chkLevel3Recovery);
  options.Level4Recovery = flag(chkLevel4Recovery);
  options.Level5Recovery = flag(chkLevel5Recovery);
  options.SourceKind = kOfflineSource;
}

void TMainForm::BeforeRun() { RecoveredCount = 0; }

// The success report has been built by then; the count is not needed after
// the run.
void TMainForm::AfterRun() { RecoveredCount = 0; }

QString TMainForm::BuildSuccessReport() {
  return res::str(res::kSuccessReport).arg(RecoveredCount).arg(RunSource());
}

std::unique_ptr<TZELMMsgForm> TMainForm::CreateResultDialog(const QString& text) {
  return std::make_unique<TMsgForm>(this, text, styleSheet());
}

bool TMainForm::CanOpenTarget() { return false; }

void TMainForm::InitProduct() {
  cmbSrcFormat->setToolTip(res::str(res::kHintSrcFormat));
  cmbDstFormat->setToolTip(res::str(res::kHintDstFormat));
  RecoveredCount = 0;
  for (QComboBox* list : {cmbSrcFormat, cmbDstFormat, cmbBatchSrcFormat, cmbBatchDstFormat}) list->setCurrentIndex(0);
  Settings = std::make_unique<TSetting>();
  Settings->Load();
  showSettings();
}

void TMainForm::showSettings() {
  const TSetting& s = *Setting();
  chkOpenFixed->setChecked(s.OpenFixed);
  chkFastRecovery->setChecked(s.FastRecovery);
  chkHeuristicRecoverRoot->setChecked(s.HeuristicRecoverRoot);
  chkRecoverUnattchedAttach->setChecked(s.RecoverUnattchedAttach);
  chkSplitOversizePST->setChecked(s.SplitOversizePST);
  txtPSTFileSizeLimit->setValue(s.PSTFileSizeLimit);
  chkIgnoreZeroBlock->setChecked(s.IgnoreZeroBlock);
  chkAlwaysIPMSubtree->setChecked(s.AlwaysIPMSubtree);
  chkRemoveEmptyFolder->setChecked(s.RemoveEmptyFolder);
  chkRecoverMultiPropInBatch->setChecked(s.RecoverMultiPropInBatch);
  chkLevel1Recovery->setChecked(s.Level1Recovery);
  chkLevel2Recovery->setChecked(s.Level2Recovery);
  chkLevel3Recovery->setChecked(s.Level3Recovery);
  chkLevel4Recovery->setChecked(s.Level4Recovery);
  chkLevel5Recovery->setChecked(s.Level5Recovery);
  txtTempDir->setText(s.TempDir);
  txtBufSize->setValue(s.BufSize);
  chkSplitOversizePSTClick();
}

void TMainForm::takeSettings() {
  TSetting& s = *Setting();
  s.OpenFixed = chkOpenFixed->isChecked();
  s.FastRecovery = chkFastRecovery->isChecked();
  s.HeuristicRecoverRoot = chkHeuristicRecoverRoot->isChecked();
  s.RecoverUnattchedAttach = chkRecoverUnattchedAttach->isChecked();
  s.SplitOversizePST = chkSplitOversizePST->isChecked();
  s.PSTFileSizeLimit = txtPSTFileSizeLimit->value();
  s.IgnoreZeroBlock = chkIgnoreZeroBlock->isChecked();
  s.AlwaysIPMSubtree = chkAlwaysIPMSubtree->isChecked();
  s.RemoveEmptyFolder = chkRemoveEmptyFolder->isChecked();
  s.RecoverMultiPropInBatch = chkRecoverMultiPropInBatch->isChecked();
  s.Level1Recovery = chkLevel1Recovery->isChecked();
  s.Level2Recovery = chkLevel2Recovery->isChecked();
  s.Level3Recovery = chkLevel3Recovery->isChecked();
  s.Level4Recovery = chkLevel4Recovery->isChecked();
  s.Level5Recovery = chkLevel5Recovery->isChecked();
  s.TempDir = txtTempDir->text();
  s.BufSize = txtBufSize->value();
}

void TMainForm::DoneProduct() {
  if (!Settings) return;
  takeSettings();
  Settings->Save();
  Settings.reset();
}

void TMainForm::AddSettingInfo(QStringList& list) {
  const auto yesNo = [](const QCheckBox* box) {
    return box->text() + QStringLiteral(": ") + res::str(box->isChecked() ? res::kYes : res::kNo);
  };
  list << res::str(res::kSettingInfo);
  for (const QCheckBox* box : {chkFastRecovery, chkHeuristicRecoverRoot, chkRecoverUnattchedAttach, chkSplitOversizePST}) {
    list << yesNo(box);
  }
  list << chkSplitOversizePST->text() + u' ' + QString::number(txtPSTFileSizeLimit->value());
  for (const QCheckBox* box : {chkIgnoreZeroBlock, chkAlwaysIPMSubtree, chkRemoveEmptyFolder, chkRecoverMultiPropInBatch,
                               chkLevel1Recovery, chkLevel2Recovery, chkLevel3Recovery, chkLevel4Recovery,
                               chkLevel5Recovery}) {
    list << yesNo(box);
  }
  list << labTempDir->text() + u' ' + txtTempDir->text();
  list << labBufSize->text() + u' ' + QString::number(txtBufSize->value());
  const QString separator = QString::fromLatin1(vexl::kSeparatorLine);
  list << separator << res::str(res::kSettingInfoEnd) << separator;
}

}  // namespace zelm
