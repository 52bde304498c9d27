// Program entry: the command line, the application, its title and icon, the main window, the
// event loop.
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <clocale>
#include <cstdio>
#include <string>

#include "app/CommandLine.h"
#include "app/ErrorBox.h"
#include "app/MainForm.h"
#include "base/PrivateFiles.h"
#include "print/PrintJobs.h"
#include "settings/AppPaths.h"
#include "settings/InstanceLock.h"

namespace {

int Fail(const QString& text) {
  std::fprintf(stderr, "quillmark: %s\nTry 'quillmark --help' for the options.\n",
               text.toLocal8Bit().constData());
  return 2;
}

// A second copy on the same folder would restore and print the same messages again.
constexpr int kAlreadyRunning = 3;

int AlreadyRunning(const qm::TInstanceLock& lock) {
  const QString text = lock.AlreadyRunningText();
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  // The running copy comes forward instead of a box, where it can.
  const QString platform = QGuiApplication::platformName();
  const bool display = platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
  if (display && !lock.AskHolderToShow()) qm::ShowErrorBox(nullptr, text);
  return kAlreadyRunning;
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
    std::error_code made;
    qm::MakePrivateFolders(options.ConfigDir.toStdString(), made);
    if (made)
      return Fail(QStringLiteral("--config: the folder \"%1\" cannot be made").arg(options.ConfigDir));
    setup.IniFile = QDir(options.ConfigDir).filePath(QStringLiteral("Quillmark.ini")).toStdString();
    setup.LogDir = options.ConfigDir.toStdString();
  } else {
    const qm::TAppPaths paths = qm::ResolveAppPaths(QCoreApplication::applicationDirPath().toStdString());
    setup.IniFile = paths.IniFile;
    setup.LogDir = paths.LogDir;
  }
  // Before the window: it restores the stored list and opens the store.
  qm::TInstanceLock lock(QString::fromStdString(setup.LogDir));
  if (!lock.Take()) {
    if (lock.HeldElsewhere()) return AlreadyRunning(lock);
    // A folder that takes no lock file takes no store either; the run reports that itself.
    std::fprintf(stderr, "quillmark: %s; a second copy on it would not be noticed\n",
                 lock.Error().toLocal8Bit().constData());
  }

  int result = 0;
  std::string logDir;
  QString pdfDir;
  {
    qm::TMainForm form(std::move(setup));
    form.ShowInitially(form.StartMinimized());
    lock.ListenForShow([&form] { form.miRestoreClick(); });
    // A host that closed while the window was being made has ended the run already.
    if (!form.Ending()) result = QApplication::exec();
    logDir = form.FPaths.LogDir;
    pdfDir = form.PdfFolderUsed();
  }  // the window saves what it has to and writes the rest of the log as it goes
  std::printf("Quillmark: log files are in %s\n", logDir.c_str());
  if (!pdfDir.isEmpty())
    std::printf("Quillmark: printed pages are PDF files in %s\n", pdfDir.toLocal8Bit().constData());
  return result;
}
