#include "run/RunStart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cstdio>

#include "base/PrivateFiles.h"
#include "base/ProgramText.h"
#include "host/HostSettings.h"
#include "print/PrintJobs.h"
#include "run/DeskRun.h"
#include "run/Unattended.h"
#include "settings/AppPaths.h"

namespace qm {

QString MissingPrinter(const QStringList& printers, const QString& name) {
  if (name.isEmpty() || printers.contains(name)) return {};
  return QStringLiteral("there is no printer \"%1\" here").arg(name);
}

TRunStart::TRunStart(TRunOptions options) : FOptions(std::move(options)) {}

QString TRunStart::FindPlaces() {
  // The system's printers are asked for only when one is named: a start without --printer, or
  // --status, never waits on the spooler here.
  if (!FOptions.Printer.isEmpty()) {
    const QString missing = MissingPrinter(TPrintJobs::SystemPrinters().Names, FOptions.Printer);
    if (!missing.isEmpty()) return QStringLiteral("--printer: ") + missing;
  }
  if (!FOptions.ConfigDir.isEmpty()) {
    std::error_code made;
    MakePrivateFolders(FOptions.ConfigDir.toStdString(), made);
    if (made) return QStringLiteral("--config: the folder \"%1\" cannot be made").arg(FOptions.ConfigDir);
    FIniFile = QDir(FOptions.ConfigDir).filePath(QStringLiteral("Quillmark.ini")).toStdString();
    FDataDir = FOptions.ConfigDir.toStdString();
  } else {
    const TAppPaths paths = ResolveAppPaths(QCoreApplication::applicationDirPath().toStdString());
    FIniFile = paths.IniFile;
    FDataDir = paths.LogDir;
  }
  return {};
}

int TRunStart::Refuse(const QString& text) {
  FRefusal = text;
  return 2;
}

int TRunStart::Prepare(bool window) {
  if (const QString wrong = FindPlaces(); !wrong.isEmpty()) return Refuse(wrong);
  // Without a window there is no one to choose a source: the demo is for the window. Where the
  // default source is the station program (Windows) the desk attaches to it as the window does.
  if (!window && !QFileInfo::exists(QString::fromStdString(FIniFile)) && !FOptions.Transport &&
      THostSettings().Transport == THostSettings::htReplay) {
    std::fprintf(stderr,
                 "quillmark: no settings in %s: start quillmark once with a window to choose the source and "
                 "printer, or name a source (--aprs-is, --kiss, --serial, --replay)\n",
                 FIniFile.c_str());
    return kNoSettings;
  }
  // Before the desk: it restores the stored list and opens the store.
  if (const int refused = TakeLock(); refused != 0) return refused;
  if (const QString wrong = PlanBoard(FOptions.Web, FIniFile, FDataDir, FBoard); !wrong.isEmpty())
    return Refuse(wrong);
  if (const QString wrong = CheckPdfFolder(); !wrong.isEmpty()) return Refuse(wrong);
  return 0;
}

int TRunStart::TakeLock() {
  FLock = std::make_unique<TInstanceLock>(QString::fromStdString(FDataDir));
  if (FLock->Take()) {
    // The run goes on without its socket; the log gets the line once it runs (StartBoard).
    if (!FLock->ListenError().isEmpty())
      std::fprintf(stderr, "quillmark: %s\n", FLock->ListenError().toLocal8Bit().constData());
    TPrintJobs::RemoveLeftJobFiles();
    return 0;
  }
  if (FLock->HeldElsewhere()) {
    std::fprintf(stderr, "%s\n", FLock->AlreadyRunningText().toLocal8Bit().constData());
    return kAlreadyRunning;
  }
  // A folder that takes no lock file takes no store either; the run reports that itself.
  std::fprintf(stderr, "quillmark: %s; a second copy on it would not be noticed\n",
               FLock->Error().toLocal8Bit().constData());
  return 0;
}

// The --print-to-pdf folder, made and tried with a file of its own once this copy holds its
// folder: a folder may look writable and still refuse (a full or read-only disk, another
// user's).
QString TRunStart::CheckPdfFolder() const {
  if (FOptions.PrintToFolder.isEmpty()) return {};
  std::error_code made;
  MakePrivateFolders(FOptions.PrintToFolder.toStdString(), made);
  QTemporaryFile probe(QDir(FOptions.PrintToFolder).filePath(QStringLiteral("quillmark-probe-XXXXXX")));
  if (made || !probe.open() || probe.write("%PDF-", 5) != 5 || !probe.flush())
    return QStringLiteral("--print-to-pdf: the folder \"%1\" cannot be written").arg(FOptions.PrintToFolder);
  return {};
}

void TRunStart::EndOnSignals(QObject* owner, std::function<void()> end) {
  FSignalsCaught = qm::EndOnSignals(owner, std::move(end));
}

const TBoardRun& TRunStart::StartBoard(TDeskRun& run, std::function<void()> show) {
  if (!FSignalsCaught)
    std::fprintf(stderr,
                 "quillmark: SIGTERM, SIGINT and SIGHUP cannot be caught; they end the run without the log's "
                 "last lines\n");
  FLock->ListenForShow(std::move(show));
  if (!FLock->ListenError().isEmpty()) run.Desk().LogMessage(ProgramText(FLock->ListenError()));
  TBoardRun& board = run.StartBoard(std::move(FBoard));
  FLock->AnswerStatus([&board] { return board.StatusAnswer(); });
  FLock->AnswerAcknowledge(
      [&board](const QByteArray& which, const QString& who) { return board.AcknowledgeAnswer(which, who); });
  FLock->AnswerSend(
      [&board](const QByteArray& message, const QString& who) { return board.SendAnswer(message, who); });
  FLock->AnswerCancelSend(
      [&board](const QByteArray& number, const QString& who) { return board.CancelSendAnswer(number, who); });
  return board;
}

void TRunStart::SayWhereFilesAre(const QString& pdfDir) const {
  std::printf("Quillmark: log files are in %s\n", FDataDir.c_str());
  if (!pdfDir.isEmpty())
    std::printf("Quillmark: printed pages are PDF files in %s\n", pdfDir.toLocal8Bit().constData());
}

}  // namespace qm
