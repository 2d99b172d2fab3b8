// The window program: creates the main window, runs a recovery at once when
// the command line names a source, and then runs the event loop.
#include <QApplication>

#include "gui/Look.h"
#include "gui/MainFrm.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  zelm::ApplyApplicationFont();

  int result = 0;
  {
    zelm::TMainForm form;
    form.FormCreate(QApplication::arguments().mid(1));
    if (!form.Terminated()) {
      form.show();
      result = QApplication::exec();
    }
  }  // the window saves the settings as it goes
  return result;
}
