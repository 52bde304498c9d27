// The desk without a window or tray, for a machine with a printer and no screen: the same
// Quillmark.ini (read, never written), source, store, printing, Finger and log as the window.
// Its state and failures go to standard error (journald under systemd) as well as the log.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "desk/MessageDesk.h"
#include "host/HostLink.h"
#include "run/CommandLine.h"
#include "run/DeskRun.h"
#include "run/RunView.h"

namespace qm {

struct TUnattendedSetup {
  std::string IniFile;
  std::string LogDir;
  TRunOptions Options;
};

class TRunStart;

class TUnattendedDesk : public QObject, private TRunView {
  Q_OBJECT

 public:
  // Opens the desk and starts the source; failures are said and the run goes on, as the
  // window's does.
  explicit TUnattendedDesk(TUnattendedSetup setup, QObject* parent = nullptr);
  ~TUnattendedDesk() override;

  // Ends at once, as the host closing does: packets heard are judged, nothing is printed on
  // the way out, what is unprinted stays in the store for the next start.
  void End();
  TDeskRun& Run() { return *FRun; }
  TMessageDesk& Desk() { return FRun->Desk(); }
  TPacketSources& Sources() { return FRun->Sources(); }

 signals:
  // The desk is done: the program may end.
  void Ended();

 private:
  // On standard error only (the journal under systemd).
  static void Tell(const QString& text);
  // There and in the log.
  void Say(const QString& text);
  // The start as this desk shows it: a failed step said as "What: why".
  void StepFailed(const QString& step, const QString& why) override;
  void LogOpened(TDeskRun& run) override;
  void ReadChoices(TDeskRun& run) override;
  void SourcesRead(TDeskRun& run) override;
  void HandOverChoices(TDeskRun& run) override;
  void Ready(TDeskRun& run) override;
  // A source's link made: its outage lines go to standard error; the first one's own station
  // and demo are told.
  void LinkMade(int index, THostLink* link);

  TUnattendedSetup FSetup;
  std::unique_ptr<TDeskRun> FRun;
  bool FEnding = false;
  TDeskChoices FChoices;       // from the settings file, until the start hands them over
  std::vector<int> FSaidDown;  // per source: 1 down, 0 up, -1 not said yet
  QStringList FPrinterSaid;
};

// --ics309: the log of the command's period from the store in `dataDir` (read-only, beside a
// running desk), written into `dataDir` as PDF and CSV, their paths in `out`, with PrintLog on
// the printer (--printer, else the system's default; --print-to-pdf a folder) too. The exit
// status: 0 done, 1 the store could not be read or a file not written or the job not printed.
// Needs a GUI application object (fonts, pages), no display.
int CommsLogCommand(const TCommandLine& command, const std::string& iniFile, const std::string& dataDir,
                    QString& out, QString& err);

// The run without a window, from a start prepared for it (TRunStart::Prepare): the desk, the
// board and --status, until a signal, the sources' end or the host's; the program's exit code.
int RunWithoutWindow(TRunStart& start);

// SIGTERM, SIGINT and SIGHUP call `end` from the event loop (the handler only writes to a
// pipe); the window and the unattended desk end by them alike.
// False when they could not be caught.
bool EndOnSignals(QObject* owner, std::function<void()> end);

}  // namespace qm
