// The product window: OST in, PST out. Fills the hooks of TZELMMainForm.
#pragma once

#include "gui/ZELMMain.h"

namespace zelm {

class TSetting;

class TMainForm : public TZELMMainForm {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);
  // Saves the settings when the window goes away after a normal start.
  ~TMainForm() override;

  void HandleEngineEvent(std::int32_t code, void* data) override;
  QString MakeTargetName(const QString& source) override;
  bool TargetIsFile() override;
  bool RunRecovery(const QString& source, const QString& target) override;
  void BeforeRun() override;
  void AfterRun() override;
  QString BuildSuccessReport() override;
  std::unique_ptr<TZELMMsgForm> CreateResultDialog(const QString& text) override;
  bool CanOpenTarget() override;
  void InitProduct() override;
  void DoneProduct() override;
  void AddSettingInfo(QStringList& list) override;
  void BuildEngineOptions(vexl::EngineOptions& options) override;

  // The count the engine reported with its last RecoveredCount.
  std::int32_t RecoveredCount = 0;

  TSetting* Setting() const;

 private:
  void showSettings();
  void takeSettings();
};

}  // namespace zelm
