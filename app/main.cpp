// Program entry: the command line, the application, its title and icon, the main window, the
// event loop.
#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QList>
#include <QPair>
#include <QUrl>
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
#include "run/Board.h"
#include "run/CommandLine.h"
#include "run/RunStart.h"
#include "run/StartTrace.h"
#include "run/Unattended.h"
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

// Another copy holds the folder (said already): its window comes forward. Where there is none
// (a desk run with --no-window, a copy that does not answer), a box says where it runs and its
// board, if it serves one, opens in the browser.
int AlreadyRunning(const qm::TInstanceLock& lock, bool window) {
  const QString platform = QGuiApplication::platformName();
  const bool display = platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
  if (!display || !window) return qm::TRunStart::kAlreadyRunning;
  const qm::TInstanceLock::TShowAnswer shown = lock.AskHolderToShow();
  if (shown == qm::TInstanceLock::saShown) return qm::TRunStart::kAlreadyRunning;
  const QString board =
      shown == qm::TInstanceLock::saNoWindow ? qm::RunningBoardUrl(lock.Folder()) : QString();
  const QString text = qm::AlreadyRunningBoxText(lock, shown == qm::TInstanceLock::saNoWindow, board);
  Print(stderr, QStringLiteral("quillmark: %1\n").arg(text));
  if (!board.isEmpty()) QDesktopServices::openUrl(QUrl(board));
  qm::ShowNoticeBox(nullptr, text);
  return qm::TRunStart::kAlreadyRunning;
}

// The run's start before its desk: 0 to go on, else the program's exit code.
int Prepare(qm::TRunStart& start, bool window) {
  const int code = start.Prepare(window);
  if (code == 2) return Fail(start.Refusal());
  if (code == qm::TRunStart::kAlreadyRunning) return AlreadyRunning(start.Lock(), window);
  return code;
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
  qm::TRunStart start(options);
  if (const int refused = Prepare(start, false); refused != 0) return refused;
  return qm::RunWithoutWindow(start);
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
    case qm::TCommandLine::caStatus:
    case qm::TCommandLine::caAcknowledge:
    case qm::TCommandLine::caSend:
    case qm::TCommandLine::caCancelSend: {
      QCoreApplication asking(argc, argv);
      qm::TRunStart start(command.Options);
      if (const QString wrong = start.FindPlaces(); !wrong.isEmpty()) return Fail(wrong);
      QString out, err;
      const QString folder = QString::fromStdString(start.DataDir());
      const int code = command.Action == qm::TCommandLine::caStatus ? qm::AskStatus(folder, out, err)
                       : command.Action == qm::TCommandLine::caSend
                           ? qm::AskSend(folder, command.SendTo, command.SendText, out, err)
                       : command.Action == qm::TCommandLine::caCancelSend
                           ? qm::AskCancelSend(folder, command.CancelNumber, out, err)
                           : qm::AskAcknowledge(folder, command.AlarmNumber.toUtf8(), out, err);
      if (!out.isEmpty()) Print(stdout, out);
      if (!err.isEmpty()) Print(stderr, err);
      return code;
    }
    case qm::TCommandLine::caCommsLog: {
      // Pages need a GUI application (fonts, painting), no display.
      if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
      QGuiApplication writing(argc, argv);
      qm::TRunStart start(command.Options);
      if (const QString wrong = start.FindPlaces(); !wrong.isEmpty()) return Fail(wrong);
      QString out, err;
      const int code = qm::CommsLogCommand(command, start.IniFile(), start.DataDir(), out, err);
      if (!out.isEmpty()) Print(stdout, out);
      if (!err.isEmpty()) Print(stderr, err);
      return code;
    }
    case qm::TCommandLine::caBoardKey:
    case qm::TCommandLine::caBoardKeyRevoke:
    case qm::TCommandLine::caBoardKeys: {
      QCoreApplication asking(argc, argv);
      qm::TRunStart start(command.Options);
      if (const QString wrong = start.FindPlaces(); !wrong.isEmpty()) return Fail(wrong);
      QString out, err;
      const int code = qm::BoardKeyCommand(command, start.IniFile(), start.DataDir(), out, err);
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

  qm::TRunStart start(command.Options);
  if (const int refused = Prepare(start, true); refused != 0) return refused;
  qm::StartMark("lock taken");

  int result = 0;
  QString pdfDir;
  {
    qm::TMainFormSetup setup;
    setup.Options = start.Options();
    setup.IniFile = start.IniFile();
    setup.LogDir = start.DataDir();
    qm::TMainForm form(std::move(setup));
    form.ShowInitially(form.StartMinimized());
    // A signal ends the window as its tray's Exit does: what is on its way is listed and logged,
    // what is unprinted stays in the store.
    start.EndOnSignals(&form, [&form] {
      if (!form.Ending()) form.miExitClick();
    });
    const qm::TBoardRun& boardRun = start.StartBoard(form.Run(), [&form] { form.miRestoreClick(); });
    form.ShowBoard();
    if (!boardRun.Refusal().isEmpty()) {
      form.SetHintText(boardRun.Refusal());
      qm::ShowErrorBoxLater(&form, boardRun.Refusal());
    }
    // A host that closed while the window was being made has ended the run already.
    if (!form.Ending()) result = QApplication::exec();
    pdfDir = form.PdfFolderUsed();
  }  // the window saves what it has to and writes the rest of the log as it goes
  start.SayWhereFilesAre(pdfDir);
  return result;
}
