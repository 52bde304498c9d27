// Program entry: the application, its name and icon, the main window, the event loop.
#include <QApplication>
#include <cstdio>
#include <string>

#include "app/MainForm.h"

int main(int argc, char** argv) {
  // Qt's own options (-platform, -style, ...) are taken here; the program has none.
  QApplication app(argc, argv);
  qm::SetUpApplication();

  int result = 0;
  std::string logDir;
  {
    qm::TMainForm form;
    form.ShowInitially(form.StartMinimized());
    result = QApplication::exec();
    logDir = form.FPaths.LogDir;
  }  // the window saves what it has to and writes the rest of the log as it goes
  std::printf("Quillmark: log files are in %s\n", logDir.c_str());
  return result;
}
