#include "gui/CmdLine.h"

namespace zelm {

bool IsSwitchArgument(const QString& arg) {
  if (arg.startsWith(u'-')) return true;
  return arg.size() == 2 && arg.at(0) == u'/' && arg.at(1).isLetter();
}

bool HasSwitch(const QStringList& args, QChar letter) {
  for (const QString& arg : args) {
    if (arg.size() == 2 && IsSwitchArgument(arg) && arg.at(1).toUpper() == letter.toUpper()) return true;
  }
  return false;
}

CommandLine ParseCommandLine(const QStringList& args) {
  CommandLine line;
  line.hasArguments = !args.isEmpty();
  for (const QString& arg : args) {
    if (!IsSwitchArgument(arg)) {
      line.source = arg;
      break;
    }
  }
  line.openFixed = HasSwitch(args, u'O');
  line.exitWhenDone = HasSwitch(args, u'E');
  return line;
}

}  // namespace zelm
