// The save dialog of the recovery log: the save-file dialog with one more
// check box, "Include S&ystem Information", below its own controls. The
// object lives as long as the main window, so the box keeps the user's last
// choice until the program ends; it is not stored in the settings.
#pragma once

#include "gui/FileDialogs.h"

class QCheckBox;

namespace zelm {

class TSaveLogDialog : public TSaveDialog {
 public:
  TSaveLogDialog();
  // The dialog's hook refers to this object.
  TSaveLogDialog(const TSaveLogDialog&) = delete;
  TSaveLogDialog& operator=(const TSaveLogDialog&) = delete;

  bool IncludeSysInfo() const { return includeSysInfo_; }
  void SetIncludeSysInfo(bool include) { includeSysInfo_ = include; }

  // The panel and its box exist while the dialog is shown.
  QWidget* InfoPanel = nullptr;
  QCheckBox* SystemInfoCheckBox = nullptr;

 private:
  void addInfoPanel(QFileDialog& dialog);

  bool includeSysInfo_ = true;
};

}  // namespace zelm
