#include "gui/FileDialogs.h"

#include <QFileDialog>

#include "gui/FileNames.h"

namespace zelm {
namespace {

TOpenDialog::Runner& openRunner() {
  static TOpenDialog::Runner runner;
  return runner;
}

TSaveDialog::Runner& saveRunner() {
  static TSaveDialog::Runner runner;
  return runner;
}

SelectDirectoryRunner& directoryRunner() {
  static SelectDirectoryRunner runner;
  return runner;
}

void applyFilter(QFileDialog& dialog, const QString& filter, int index) {
  const QStringList filters = DialogNameFilters(filter);
  dialog.setNameFilters(filters);
  if (index >= 1 && index <= filters.size()) dialog.selectNameFilter(filters.at(index - 1));
}

int selectedFilterIndex(const QFileDialog& dialog, const QString& filter, int fallback) {
  const qsizetype at = DialogNameFilters(filter).indexOf(dialog.selectedNameFilter());
  return at >= 0 ? static_cast<int>(at) + 1 : fallback;
}

}  // namespace

void TOpenDialog::SetRunner(Runner runner) { openRunner() = std::move(runner); }
void TSaveDialog::SetRunner(Runner runner) { saveRunner() = std::move(runner); }
void SetSelectDirectoryRunner(SelectDirectoryRunner runner) { directoryRunner() = std::move(runner); }

bool TOpenDialog::Execute(QWidget* parent) {
  if (openRunner()) return openRunner()(*this);
  QFileDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("OpenDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(MultiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (!InitialDir.isEmpty()) dialog.setDirectory(InitialDir);
  applyFilter(dialog, Filter, FilterIndex);
  if (dialog.exec() != QDialog::Accepted) return false;
  Files = dialog.selectedFiles();
  FileName = Files.value(0);
  FilterIndex = selectedFilterIndex(dialog, Filter, FilterIndex);
  return !Files.isEmpty();
}

bool TSaveDialog::Execute(QWidget* parent) {
  if (saveRunner()) return saveRunner()(*this);
  QFileDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("SaveDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (!InitialDir.isEmpty()) dialog.setDirectory(InitialDir);
  applyFilter(dialog, Filter, FilterIndex);
  dialog.setDefaultSuffix(DefaultExt);
  if (!FileName.isEmpty()) dialog.selectFile(FileName);
  if (Customize) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    Customize(dialog);
  }
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [this, &dialog](const QString&) {
    FilterIndex = selectedFilterIndex(dialog, Filter, FilterIndex);
    if (OnTypeChange) OnTypeChange();
    dialog.setDefaultSuffix(DefaultExt);
  });
  if (dialog.exec() != QDialog::Accepted) return false;
  FileName = dialog.selectedFiles().value(0);
  FilterIndex = selectedFilterIndex(dialog, Filter, FilterIndex);
  return !FileName.isEmpty();
}

bool SelectDirectory(QWidget* parent, const QString& caption, QString& directory) {
  if (directoryRunner()) return directoryRunner()(caption, directory);
  const QString chosen = QFileDialog::getExistingDirectory(parent, caption, directory, QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return false;
  directory = chosen;
  return true;
}

}  // namespace zelm
