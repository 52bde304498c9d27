// Program entry: the command line, the application, its title and icon, the main window, the
// event loop.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QList>
#include <QPair>
#include <QTemporaryFile>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#ifdef _WIN32
#include <objbase.h>
#include <windows.h>
#endif

#include "app/ErrorBox.h"
#include "app/MainForm.h"
#include "base/PrivateFiles.h"
#include "base/ProgramText.h"
#include "print/PrintJobs.h"
#include "run/Board.h"
#include "run/CommandLine.h"
#include "run/StartTrace.h"
#include "run/Unattended.h"
#include "settings/AppPaths.h"
#include "settings/InstanceLock.h"

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

// A second copy on the same folder would restore and print the same messages again.
constexpr int kAlreadyRunning = 3;
// No settings and no source named, without a window: the service manager must not start it
// again and again (the user unit's RestartPreventExitStatus).
constexpr int kNoSettings = 78;

int AlreadyRunning(const qm::TInstanceLock& lock) {
  const QString text = lock.AlreadyRunningText();
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  // The running copy comes forward instead of a box, where it can.
  const QString platform = QGuiApplication::platformName();
  const bool display = platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
  if (display && !lock.AskHolderToShow()) qm::ShowErrorBox(nullptr, text);
  return kAlreadyRunning;
}

// Qt ends a program whose window system it cannot reach with a fatal message (and an abort)
// from the application's constructor. Meanwhile its messages are held: a fatal one becomes
// this program's one line and exit 2, the others are passed on once the window system is up.
QList<QPair<QtMsgType, QString>>* gHeldMessages = nullptr;

void HoldMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type != QtFatalMsg) {
    gHeldMessages->append({type, text});
    return;
  }
  std::fputs(
      "quillmark: there is no display to show the window on (none is set, or it cannot be reached); "
      "--no-window runs the desk without one\n",
      stderr);
  std::fflush(stderr);
  std::_Exit(2);
}

struct TDisplayWatch {
  TDisplayWatch() : FPrevious(qInstallMessageHandler(HoldMessage)) { gHeldMessages = &FHeld; }
  ~TDisplayWatch() {
    qInstallMessageHandler(FPrevious);
    gHeldMessages = nullptr;
    for (const auto& [type, text] : FHeld) FPrevious(type, QMessageLogContext(), text);
  }
  QtMessageHandler FPrevious;
  QList<QPair<QtMsgType, QString>> FHeld;
};

QApplication* MakeApplication(int& argc, char** argv) {
  const TDisplayWatch watch;
  return new QApplication(argc, argv);
}

// The printer and the folders of this run; answers what is wrong, or "".
QString CheckPlaces(const qm::TRunOptions& options, std::string& iniFile, std::string& logDir) {
  if (!options.Printer.isEmpty() && !qm::TPrintJobs::SystemPrinters().Names.contains(options.Printer))
    return QStringLiteral("--printer: there is no printer \"%1\" here").arg(options.Printer);
  if (!options.ConfigDir.isEmpty()) {
    std::error_code made;
    qm::MakePrivateFolders(options.ConfigDir.toStdString(), made);
    if (made) return QStringLiteral("--config: the folder \"%1\" cannot be made").arg(options.ConfigDir);
    iniFile = QDir(options.ConfigDir).filePath(QStringLiteral("Quillmark.ini")).toStdString();
    logDir = options.ConfigDir.toStdString();
  } else {
    const qm::TAppPaths paths = qm::ResolveAppPaths(QCoreApplication::applicationDirPath().toStdString());
    iniFile = paths.IniFile;
    logDir = paths.LogDir;
  }
  return {};
}

// The --print-to-pdf folder, made and tried with a file of its own once this copy holds its
// folder: a folder may look writable and still refuse (a full or read-only disk, another
// user's). Answers what is wrong, or "".
QString CheckPdfFolder(const qm::TRunOptions& options) {
  if (options.PrintToFolder.isEmpty()) return {};
  std::error_code made;
  qm::MakePrivateFolders(options.PrintToFolder.toStdString(), made);
  QTemporaryFile probe(QDir(options.PrintToFolder).filePath(QStringLiteral("quillmark-probe-XXXXXX")));
  if (made || !probe.open() || probe.write("%PDF-", 5) != 5 || !probe.flush())
    return QStringLiteral("--print-to-pdf: the folder \"%1\" cannot be written").arg(options.PrintToFolder);
  return {};
}

// 0 when this copy may go on.
int TakeLock(qm::TInstanceLock& lock) {
  if (lock.Take()) {
    // The run goes on without its socket; the log gets the line once it runs (LogNoSocket).
    if (!lock.ListenError().isEmpty())
      std::fprintf(stderr, "quillmark: %s\n", lock.ListenError().toLocal8Bit().constData());
    qm::TPrintJobs::RemoveLeftJobFiles();
    return 0;
  }
  if (lock.HeldElsewhere()) return AlreadyRunning(lock);
  // A folder that takes no lock file takes no store either; the run reports that itself.
  std::fprintf(stderr, "quillmark: %s; a second copy on it would not be noticed\n",
               lock.Error().toLocal8Bit().constData());
  return 0;
}

void LogNoSocket(const qm::TInstanceLock& lock, qm::TDeskRun& run) {
  if (!lock.ListenError().isEmpty()) run.Desk().LogMessage(qm::ProgramText(lock.ListenError()));
}

void SayWhereFilesAre(const std::string& logDir, const QString& pdfDir) {
  std::printf("Quillmark: log files are in %s\n", logDir.c_str());
  if (!pdfDir.isEmpty())
    std::printf("Quillmark: printed pages are PDF files in %s\n", pdfDir.toLocal8Bit().constData());
}

// The desk alone. The print jobs need a GUI application (fonts, painting) but no display:
// Qt's offscreen platform unless one was asked for.
int RunUnattended(int argc, char** argv, const qm::TRunOptions& options) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef _WIN32
  // The station program's automation link needs COM on this thread; Windows' own platform
  // sets it up for the window, the offscreen one does not.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::unique_ptr<void, void (*)(void*)> comEnd(SUCCEEDED(com) ? &argc : nullptr,
                                                      [](void*) { CoUninitialize(); });
#endif
  QGuiApplication app(argc, argv);
  std::setlocale(LC_TIME, "");
  QGuiApplication::setApplicationName(QStringLiteral("Quillmark"));
  qm::TUnattendedSetup setup;
  setup.Options = options;
  if (const QString wrong = CheckPlaces(setup.Options, setup.IniFile, setup.LogDir); !wrong.isEmpty())
    return Fail(wrong);
  // Without a window there is no one to choose a source: the demo is for the window. Where the
  // default source is the station program (Windows) the desk attaches to it as the window does.
  if (!QFileInfo::exists(QString::fromStdString(setup.IniFile)) && !options.Transport &&
      qm::THostSettings().Transport == qm::THostSettings::htReplay) {
    std::fprintf(stderr,
                 "quillmark: no settings in %s: start quillmark once with a window to choose the source and "
                 "printer, or name a source (--aprs-is, --kiss, --serial, --replay)\n",
                 setup.IniFile.c_str());
    return kNoSettings;
  }
  qm::TInstanceLock lock(QString::fromStdString(setup.LogDir));
  if (const int refused = TakeLock(lock); refused != 0) return refused;
  qm::TBoardPlan board;
  if (const QString wrong = qm::PlanBoard(options.Web, setup.IniFile, setup.LogDir, board); !wrong.isEmpty())
    return Fail(wrong);
  if (const QString wrong = CheckPdfFolder(setup.Options); !wrong.isEmpty()) return Fail(wrong);
  const std::string logDir = setup.LogDir;
  QString pdfDir;
  {
    // Caught before the desk starts: a signal while it starts (a source failing at once, the
    // service stopped early) ends the run once the event loop hears it, as one later does.
    QObject signalOwner;
    qm::TUnattendedDesk* running = nullptr;
    const bool caught = qm::EndOnSignals(&signalOwner, [&running] {
      if (running) running->End();
    });
    qm::TUnattendedDesk desk(std::move(setup));
    running = &desk;
    LogNoSocket(lock, desk.Run());
    const qm::TBoardRun& boardRun = desk.Run().StartBoard(std::move(board));
    lock.ListenForShow({});
    lock.AnswerStatus([&boardRun] { return boardRun.StatusAnswer(); });
    QObject::connect(&desk, &qm::TUnattendedDesk::Ended, &app, [] { QCoreApplication::exit(0); });
    if (!caught)
      std::fprintf(
          stderr,
          "quillmark: SIGTERM, SIGINT and SIGHUP cannot be caught; they end the run without the log's last "
          "lines\n");
    std::fprintf(stderr, "quillmark: running without a window; the log is in %s\n", logDir.c_str());
    QGuiApplication::exec();
    pdfDir = desk.Run().PdfFolderUsed();
  }
  SayWhereFilesAre(logDir, pdfDir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qm::StartMark("main");
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
    case qm::TCommandLine::caStatus: {
      QCoreApplication asking(argc, argv);
      std::string iniFile, dataDir;
      if (const QString wrong = CheckPlaces(command.Options, iniFile, dataDir); !wrong.isEmpty())
        return Fail(wrong);
      QString out, err;
      const int code = qm::AskStatus(QString::fromStdString(dataDir), out, err);
      if (!out.isEmpty()) Print(stdout, out);
      if (!err.isEmpty()) Print(stderr, err);
      return code;
    }
    case qm::TCommandLine::caRun:
      break;
  }

  if (command.Options.NoWindow) return RunUnattended(argc, argv, command.Options);

  qm::StartMark("command line read");
  const std::unique_ptr<QApplication> application(MakeApplication(argc, argv));
  qm::StartMark("application made");
  // The list's time text follows the user's regional date and time formats.
  std::setlocale(LC_TIME, "");
  qm::SetUpApplication();

  qm::TMainFormSetup setup;
  setup.Options = command.Options;
  if (const QString wrong = CheckPlaces(setup.Options, setup.IniFile, setup.LogDir); !wrong.isEmpty())
    return Fail(wrong);
  // Before the window: it restores the stored list and opens the store.
  qm::TInstanceLock lock(QString::fromStdString(setup.LogDir));
  if (const int refused = TakeLock(lock); refused != 0) return refused;
  qm::StartMark("lock taken");
  qm::TBoardPlan board;
  if (const QString wrong = qm::PlanBoard(setup.Options.Web, setup.IniFile, setup.LogDir, board);
      !wrong.isEmpty())
    return Fail(wrong);
  if (const QString wrong = CheckPdfFolder(setup.Options); !wrong.isEmpty()) return Fail(wrong);

  int result = 0;
  std::string logDir;
  QString pdfDir;
  {
    qm::TMainForm form(std::move(setup));
    form.ShowInitially(form.StartMinimized());
    // A signal ends the window as its tray's Exit does: what is on its way is listed and logged,
    // what is unprinted stays in the store.
    if (!qm::EndOnSignals(&form, [&form] {
          if (!form.Ending()) form.miExitClick();
        }))
      std::fprintf(stderr,
                   "quillmark: SIGTERM, SIGINT and SIGHUP cannot be caught; they end the run without the "
                   "log's last lines\n");
    lock.ListenForShow([&form] { form.miRestoreClick(); });
    LogNoSocket(lock, form.Run());
    const qm::TBoardRun& boardRun = form.Run().StartBoard(std::move(board));
    if (!boardRun.Refusal().isEmpty()) {
      form.SetHintText(boardRun.Refusal());
      qm::ShowErrorBoxLater(&form, boardRun.Refusal());
    }
    lock.AnswerStatus([&boardRun] { return boardRun.StatusAnswer(); });
    // A host that closed while the window was being made has ended the run already.
    if (!form.Ending()) result = QApplication::exec();
    logDir = form.FPaths.LogDir;
    pdfDir = form.PdfFolderUsed();
  }  // the window saves what it has to and writes the rest of the log as it goes
  SayWhereFilesAre(logDir, pdfDir);
  return result;
}
