// The common dialogs of the window: open-file, save-file and folder picker,
// as small components holding their properties between runs. Each has a
// replaceable runner so tests can play the user's choice without a modal
// dialog.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QFileDialog;
class QWidget;

namespace zelm {

class TOpenDialog {
 public:
  QString Filter;  // "desc|pattern|desc|pattern"
  int FilterIndex = 1;  // 1-based
  QString InitialDir;
  QString FileName;
  QStringList Files;
  bool MultiSelect = false;

  bool Execute(QWidget* parent);

  using Runner = std::function<bool(TOpenDialog&)>;
  static void SetRunner(Runner runner);
};

class TSaveDialog {
 public:
  QString Filter;
  int FilterIndex = 1;
  QString InitialDir;
  QString FileName;
  QString DefaultExt;  // without the dot; empty for none
  // Called when the user picks another filter entry (FilterIndex is already
  // updated); the owner sets DefaultExt from it.
  std::function<void()> OnTypeChange;
  // Adds the owner's controls to the dialog before it is shown; the dialog
  // is then the toolkit's own, not the desktop's.
  std::function<void(QFileDialog&)> Customize;

  // Asks before an existing file is chosen.
  bool Execute(QWidget* parent);

  using Runner = std::function<bool(TSaveDialog&)>;
  static void SetRunner(Runner runner);
};

// Folder picker for file-system folders; on OK `directory` is replaced.
using SelectDirectoryRunner = std::function<bool(const QString& caption, QString& directory)>;
bool SelectDirectory(QWidget* parent, const QString& caption, QString& directory);
void SetSelectDirectoryRunner(SelectDirectoryRunner runner);

}  // namespace zelm
