// The window program's command line: an optional source file and the
// switches "O" (check the open-when-finished box) and "E" (exit after the
// run). A switch is "-" followed by its letter, or "/" followed by its letter
// and nothing else: on this platform an absolute path begins with "/" too, so
// a longer argument with a leading "/" is a file name.
#pragma once

#include <QString>
#include <QStringList>

namespace zelm {

struct CommandLine {
  bool hasArguments = false;
  QString source;  // the first argument that is not a switch; empty when none
  bool openFixed = false;  // "O"
  bool exitWhenDone = false;  // "E"
};

bool IsSwitchArgument(const QString& arg);
bool HasSwitch(const QStringList& args, QChar letter);
// `args` excludes the program name.
CommandLine ParseCommandLine(const QStringList& args);

}  // namespace zelm
