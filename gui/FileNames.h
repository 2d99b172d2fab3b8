// Small helpers around file names: the target derived from a source, the
// program's own name (which names the settings key and the help file), the
// default extension of a dialog filter entry, and the filter conversion for
// the file dialogs.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace zelm {

// The source path less its extension, then "_recovered.pst". The extension is
// whatever follows the last "." that comes after the last folder separator
// ("\", "/") or drive colon; a dot inside a folder name is not one.
QString MakeTargetName(const QString& source);

// The running program's full path. Tests may replace it to act as a copy of
// the program under another file name; an empty string restores the real one.
QString ProgramFilePath();
void SetProgramFilePath(const QString& path);

// The file name without its folder, cut before its last "."; a name without a
// dot is taken whole.
QString ProgramBaseName(const QString& programPath);

// The help file beside the program: the program's path with its extension
// replaced by ".html" (added when it has none).
QString HelpFileName(const QString& programPath);

// From a filter "desc|pattern|desc|pattern...", the extension of the first
// mask of entry `index` (1-based), without the dot; empty for "*", for a
// mask without extension and for an index outside the list.
QString DefaultExtForFilter(const QString& filter, int index);

// The "desc|pattern" pairs as name filters for a file dialog. A description
// that already shows its patterns in parentheses is used as is.
QStringList DialogNameFilters(const QString& filter);

// Size of the file at `path`, 0 when there is no such file.
std::int64_t FileSizeOf(const QString& path);

// True when a file (not a folder) of that name exists.
bool FileExists(const QString& path);

}  // namespace zelm
