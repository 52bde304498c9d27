// What every start does around its desk, window or not: the places (the settings file and the
// data folder, --config's or the platform's), the printer --printer names, the folder's lock, the
// board's plan, the --print-to-pdf folder tried, the end by a signal, the board started with
// the lock's --status answer, and where the files are said at the end.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "run/Board.h"
#include "run/CommandLine.h"
#include "settings/InstanceLock.h"

namespace qm {

class TDeskRun;

// What is wrong with --printer's `name` among `printers` ("there is no printer ..."), or "".
QString MissingPrinter(const QStringList& printers, const QString& name);

class TRunStart {
 public:
  // A second copy on the same folder would restore and print the same messages again.
  static constexpr int kAlreadyRunning = 3;
  // No settings and no source named, without a window: the service manager must not start it
  // again and again (the user unit's RestartPreventExitStatus).
  static constexpr int kNoSettings = 78;

  explicit TRunStart(TRunOptions options);

  // The printer named and the places of this run; what is wrong, or "".
  QString FindPlaces();
  // The places found, then (without a window) a settings file or a source named, the lock,
  // the board's plan and the PDF folder: 0 when the run may go on, 2 with Refusal() saying
  // why, kNoSettings or kAlreadyRunning (said on standard error).
  int Prepare(bool window);
  const QString& Refusal() const { return FRefusal; }

  // SIGTERM, SIGINT and SIGHUP call `end` from the event loop from now on.
  void EndOnSignals(QObject* owner, std::function<void()> end);
  // Once the run's desk is made: the lock's failed socket in its log, the board started as
  // planned, a later start's show asked through `show`, --status answered; and whether the
  // signals could not be caught. Returns the board.
  const TBoardRun& StartBoard(TDeskRun& run, std::function<void()> show);
  // After the run: where its log and (when any was used) its PDF pages are.
  void SayWhereFilesAre(const QString& pdfDir) const;

  const TRunOptions& Options() const { return FOptions; }
  const std::string& IniFile() const { return FIniFile; }
  const std::string& DataDir() const { return FDataDir; }
  // The folder's lock, once Prepare tried it.
  TInstanceLock& Lock() { return *FLock; }

 private:
  int Refuse(const QString& text);
  int TakeLock();
  QString CheckPdfFolder() const;

  TRunOptions FOptions;
  std::string FIniFile;
  std::string FDataDir;
  std::unique_ptr<TInstanceLock> FLock;
  TBoardPlan FBoard;
  QString FRefusal;
  bool FSignalsCaught = true;
};

}  // namespace qm
