// Program entry: the command line, the application, its title and icon, the main window, the
// event loop.
#include <QApplication>
#include <QDir>
#include <clocale>
#include <cstdio>
#include <string>
#ifdef _WIN32
#include <windows.h>
#endif

#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "print/PrintJobs.h"

namespace {

// Writes text on stream. A window program has no console of its own: started from one, it
// writes there (it may be attached already, as under Wine). Wine's C runtime cannot reopen a
// stream that had no file, so the console is written directly. A stream the parent
// redirected (a file, a pipe) takes the text as on Linux.
void Print(std::FILE* stream, const QString& text) {
#ifdef _WIN32
  const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  const bool redirected =
      handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
  if (!redirected && (AttachConsole(ATTACH_PARENT_PROCESS) || GetLastError() == ERROR_ACCESS_DENIED)) {
    const HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE) {
      const std::wstring wide = text.toStdWString();
      DWORD written = 0;
      WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
      CloseHandle(console);
      return;
    }
  }
#endif
  std::fputs(text.toLocal8Bit().constData(), stream);
}

int Fail(const QString& text) {
  Print(stderr, QStringLiteral("quillmark: %1\nTry 'quillmark --help' for the options.\n").arg(text));
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
      Print(stdout, command.Text.trimmed() + QLatin1Char('\n'));
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
