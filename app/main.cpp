// Program entry: the application, its title and icon, the main window, the event loop.
#include <QApplication>

#include "ErrorBox.h"
#include "MainForm.h"

int main(int argc, char** argv) {
  // Qt's own options (-platform, -style, ...) are taken here; the program has none.
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmark"));
  QApplication::setApplicationDisplayName(QString::fromLatin1(qm::kApplicationTitle));
  QApplication::setDesktopFileName(QStringLiteral("quillmark"));
  qm::InstallFontSubstitutes();
  QApplication::setWindowIcon(qm::ProgramIcon());

  qm::TMainForm form;
  form.ShowInitially(false);
  return QApplication::exec();
}
