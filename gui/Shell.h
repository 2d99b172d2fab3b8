// Opening a document with its associated program. Tests can replace the
// opener to see what would be opened.
#pragma once

#include <QString>
#include <functional>

namespace zelm {

// True when the desktop accepted the document.
bool ShellOpen(const QString& path);

using ShellOpener = std::function<bool(const QString& path)>;
void SetShellOpener(ShellOpener opener);

}  // namespace zelm
