#include "gui/FileNames.h"

#include "engine/core/path_names.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace zelm {
namespace {

QString& programPathOverride() {
  static QString path;
  return path;
}

}  // namespace

QString MakeTargetName(const QString& source) {
  return QString::fromStdString(vexl::makeTargetName(source.toStdString()));
}

QString ProgramFilePath() {
  if (!programPathOverride().isEmpty()) return programPathOverride();
  return QCoreApplication::applicationFilePath();
}

void SetProgramFilePath(const QString& path) { programPathOverride() = path; }

QString ProgramBaseName(const QString& programPath) {
  qsizetype slash = programPath.lastIndexOf(u'/');
  const qsizetype backslash = programPath.lastIndexOf(u'\\');
  if (backslash > slash) slash = backslash;
  QString name = programPath.mid(slash + 1);
  const qsizetype dot = name.lastIndexOf(u'.');
  if (dot >= 0) name.truncate(dot);
  return name;
}

QString HelpFileName(const QString& programPath) {
  qsizetype slash = programPath.lastIndexOf(u'/');
  const qsizetype backslash = programPath.lastIndexOf(u'\\');
  if (backslash > slash) slash = backslash;
  const qsizetype dot = programPath.lastIndexOf(u'.');
  QString stem = dot > slash ? programPath.left(dot) : programPath;
  return stem + QStringLiteral(".html");
}

QString DefaultExtForFilter(const QString& filter, int index) {
  const QStringList parts = filter.split(u'|');
  const qsizetype patternAt = qsizetype{index} * 2 - 1;
  if (index < 1 || patternAt >= parts.size()) return {};
  const QString mask = parts.at(patternAt).section(u';', 0, 0).trimmed();
  const qsizetype dot = mask.lastIndexOf(u'.');
  if (dot < 0) return {};
  const QString ext = mask.mid(dot + 1);
  return ext == QStringLiteral("*") ? QString() : ext;
}

QStringList DialogNameFilters(const QString& filter) {
  const QStringList parts = filter.split(u'|');
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts.at(i);
    if (description.contains(u'(')) {
      result << description;
    } else {
      QString patterns = parts.at(i + 1);
      result << description + QStringLiteral(" (") + patterns.replace(u';', u' ') + QStringLiteral(")");
    }
  }
  return result;
}

std::int64_t FileSizeOf(const QString& path) {
  const QFileInfo info(path);
  return info.isFile() ? info.size() : 0;
}

bool FileExists(const QString& path) { return !path.isEmpty() && QFileInfo(path).isFile(); }

}  // namespace zelm
