// Program entry: the command line, the application, its title and icon, the main window, the
// event loop.
#include <QApplication>
#include <QDir>
#include <clocale>
#include <cstdio>
#include <string>

#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "print/PrintJobs.h"

namespace {

int Fail(const QString& text) {
  std::fprintf(stderr, "quillmark: %s\nTry 'quillmark --help' for the options.\n",
               text.toLocal8Bit().constData());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // The command line is read before any window system is needed, so --help and --version
  // work anywhere and a bad option ends the program before it writes anything.
  qm::TCommandLine command;
  {
    QCoreApplication reader(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillmark"));
    command = qm::ParseCommandLine(QCoreApplication::arguments());
  }
  switch (command.Action) {
    case qm::TCommandLine::caHelp:
    case qm::TCommandLine::caVersion:
      std::printf("%s\n", command.Text.trimmed().toLocal8Bit().constData());
      return 0;
    case qm::TCommandLine::caError:
      return Fail(command.Text);
    case qm::TCommandLine::caRun:
      break;
  }

  QApplication app(argc, argv);
  // The list's time text follows the user's regional date and time formats.
  std::setlocale(LC_TIME, "");
  qm::SetUpApplication();

  qm::TMainFormSetup setup;
  setup.Options = command.Options;
  const qm::TRunOptions& options = setup.Options;
  if (!options.Printer.isEmpty() && !qm::TPrintJobs::SystemPrinters().Names.contains(options.Printer))
    return Fail(QStringLiteral("--printer: there is no printer \"%1\" here").arg(options.Printer));
  if (!options.ConfigDir.isEmpty()) {
    if (!QDir().mkpath(options.ConfigDir))
      return Fail(QStringLiteral("--config: the folder \"%1\" cannot be made").arg(options.ConfigDir));
    setup.IniFile = QDir(options.ConfigDir).filePath(QStringLiteral("Quillmark.ini")).toStdString();
    setup.LogDir = options.ConfigDir.toStdString();
  }

  int result = 0;
  std::string logDir;
  QString pdfDir;
  {
    qm::TMainForm form(std::move(setup));
    form.ShowInitially(form.StartMinimized());
    result = QApplication::exec();
    logDir = form.FPaths.LogDir;
    pdfDir = form.PdfFolderUsed();
  }  // the window saves what it has to and writes the rest of the log as it goes
  std::printf("Quillmark: log files are in %s\n", logDir.c_str());
  if (!pdfDir.isEmpty())
    std::printf("Quillmark: printed pages are PDF files in %s\n", pdfDir.toLocal8Bit().constData());
  return result;
}
