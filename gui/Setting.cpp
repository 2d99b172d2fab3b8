#include "gui/Setting.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace zelm {
namespace {

QString withTrailingSlash(QString path) {
  if (!path.isEmpty() && !path.endsWith(u'/')) path += u'/';
  return path;
}

}  // namespace

QString TSetting::DefaultOpenDirectory() const {
  const QString home = QDir::homePath();
  QString prefix = qEnvironmentVariable("WINEPREFIX");
  if (prefix.isEmpty()) prefix = home + QStringLiteral("/.wine");
  QString user = qEnvironmentVariable("USER");
  if (user.isEmpty()) user = QDir(home).dirName();
  const QString users = prefix + QStringLiteral("/drive_c/users/") + user;
  // The local application-data folder of current Windows versions, then the
  // one of older versions.
  for (const QString& local :
       {users + QStringLiteral("/AppData/Local"), users + QStringLiteral("/Local Settings/Application Data")}) {
    const QString outlook = local + QStringLiteral("/Microsoft/Outlook");
    if (QFileInfo(outlook).isDir()) return withTrailingSlash(outlook);
  }
  return withTrailingSlash(home);
}

QString TSetting::DefaultTempDir() { return withTrailingSlash(QDir::tempPath()); }

void TSetting::Load() {
  TZELMSetting::Load();
  auto key = OpenKey();
  QSettings& k = *key;
  OpenFixed = ReadBool(k, "OpenFixed", false);
  FastRecovery = ReadBool(k, "FastRecovery", true);
  HeuristicRecoverRoot = ReadBool(k, "HeuristicRecoverRoot", false);
  RecoverUnattchedAttach = ReadBool(k, "RecoverUnattchedAttach", true);
  SplitOversizePST = ReadBool(k, "SplitOversizePST", false);
  PSTFileSizeLimit = ReadInteger(k, "PSTFileSizeLimit", 1000);
  IgnoreZeroBlock = ReadBool(k, "IgnoreZeroBlock", true);
  AlwaysIPMSubtree = ReadBool(k, "AlwaysIPMSubtree", true);
  RemoveEmptyFolder = ReadBool(k, "RemoveEmptyFolder", false);
  RecoverMultiPropInBatch = ReadBool(k, "RecoverMultiPropInBatch", false);
  Level1Recovery = ReadBool(k, "Level1Recovery", true);
  Level2Recovery = ReadBool(k, "Level2Recovery", true);
  Level3Recovery = ReadBool(k, "Level3Recovery", true);
  Level4Recovery = ReadBool(k, "Level4Recovery", true);
  Level5Recovery = ReadBool(k, "Level5Recovery", true);
  TempDir = ReadString(k, "TempDir", DefaultTempDir());
  BufSize = ReadInteger(k, "BufSize", 512);
}

void TSetting::Save() {
  TZELMSetting::Save();
  auto key = OpenKey();
  QSettings& k = *key;
  WriteBool(k, "OpenFixed", OpenFixed);
  WriteBool(k, "FastRecovery", FastRecovery);
  WriteBool(k, "HeuristicRecoverRoot", HeuristicRecoverRoot);
  WriteBool(k, "RecoverUnattchedAttach", RecoverUnattchedAttach);
  WriteBool(k, "SplitOversizePST", SplitOversizePST);
  WriteInteger(k, "PSTFileSizeLimit", PSTFileSizeLimit);
  WriteBool(k, "IgnoreZeroBlock", IgnoreZeroBlock);
  WriteBool(k, "AlwaysIPMSubtree", AlwaysIPMSubtree);
  WriteBool(k, "RemoveEmptyFolder", RemoveEmptyFolder);
  WriteBool(k, "RecoverMultiPropInBatch", RecoverMultiPropInBatch);
  WriteBool(k, "Level1Recovery", Level1Recovery);
  WriteBool(k, "Level2Recovery", Level2Recovery);
  WriteBool(k, "Level3Recovery", Level3Recovery);
  WriteBool(k, "Level4Recovery", Level4Recovery);
  WriteBool(k, "Level5Recovery", Level5Recovery);
  WriteString(k, "TempDir", TempDir);
  WriteInteger(k, "BufSize", BufSize);
}

}  // namespace zelm
