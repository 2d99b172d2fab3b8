#include "gui/Shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace zelm {
namespace {

ShellOpener& opener() {
  static ShellOpener open;
  return open;
}

}  // namespace

void SetShellOpener(ShellOpener open) { opener() = std::move(open); }

bool ShellOpen(const QString& path) {
  if (opener()) return opener()(path);
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

}  // namespace zelm
