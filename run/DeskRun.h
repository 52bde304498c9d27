// A run's desk, window or not: the settings file it reads, the desk with the program's page
// fonts, its packet sources from the settings file with the command line's over them, where
// its pages go (the demo's folder, --print-to-pdf), the printer named on the command line, the
// tick that retries a failing store and purges once a day, and the board. The window and the
// run without one each make one of these, start it in its one order (Start) and show it
// through their view (run/RunView.h).
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desk/MessageDesk.h"
#include "host/HostSettings.h"
#include "run/CommandLine.h"
#include "run/PacketSources.h"
#include "run/RunView.h"
#include "settings/SettingsStore.h"

class QTimer;

namespace qm {

class TBoardRun;
class TMessageHooks;
struct TBoardPlan;

struct TDeskRunSetup {
  // The desk's folder, store, printers and clocks.
  TDeskSetup Desk;
  // The settings file (read here; a window writes it through Settings()).
  std::string IniFile;
  // This run's choices from the command line; none of them is stored.
  TRunOptions Options;
  // The source when the settings file names none; the platform's when empty.
  std::optional<THostSettings::TTransport> DefaultTransport;
  // Makes a source's link; MakeSourceLink when empty.
  TPacketSources::TMaker MakeLink;
};

class TDeskRun : public QObject {
  Q_OBJECT

 public:
  explicit TDeskRun(TDeskRunSetup setup, QObject* parent = nullptr);
  // The links go first, then the desk writes what its logger still holds.
  ~TDeskRun() override;

  TMessageDesk& Desk() { return *FDesk; }
  TPacketSources& Sources() { return *FSources; }
  TSettingsStore& Settings() { return *FSettings; }
  const TRunOptions& Options() const { return FSetup.Options; }
  // True when the run started without a settings file.
  bool FirstStart() const { return FFirstStart; }

  // The start, a step at a time in this order, each shown through `view`: the log, the
  // settings (the view's choices and the sources), the printer named, the store, each source,
  // the choices with the own call, the list of the last run, ready. A step that fails is
  // handed to the view and the next one runs.
  void Start(TRunView& view);
  // Runs one step of the start; a failure goes to the view as `what` and its reason. False
  // when it failed.
  bool Step(const char* what, const std::function<void()>& step);

  // Every source the settings file names, the command line's choices over them (a source
  // named there is the run's only one), put in Sources() but not made. When the file cannot
  // be read the first source is the default one with the command line's choices, and the
  // failure is thrown.
  void LoadSources();
  // Makes the source at `index` from `settings` and starts it; throws why it cannot (the
  // sources clash, the link cannot be made or started), its state saying so too. LinkMade
  // comes between the link's making and its start.
  void ConnectSource(std::size_t index, const THostSettings& settings);
  // Whether the first source plays the bundled demo traffic.
  bool PlaysBundledDemo() const;
  // Where pages go for the first source: --print-to-pdf's folder, else the demo's own folder
  // in the data folder while the demo plays (it never reaches a printer), else the printer.
  void UpdatePrintTarget();
  // The folder print jobs became PDF files in, or "" when none was used.
  QString PdfFolderUsed() const;
  // Chooses the printer the command line names; throws when the list has no such printer.
  // False when none was named.
  bool ChooseNamedPrinter();

  // The program [Hooks] names, run for each message the desk keeps from now on (none when the
  // section names none); what in the section could not be used is logged.
  void StartHooks();
  TMessageHooks* Hooks() const { return FHooks.get(); }

  // The once-a-second work at the UTC time `utc`: a failing store tried again, the daily purge,
  // the hook's failures counted.
  void Tick(TDateTime utc);
  // Runs Tick every second from now on (a window ticks with its own clock instead).
  void StartTicking();

  // Starts the board as planned (a board that cannot serve says so and the desk runs on);
  // the board also answers --status.
  TBoardRun& StartBoard(TBoardPlan plan);
  // The board stops serving before the desk and its sources go.
  void StopBoard();
  // The board started, or none.
  TBoardRun* Board() const { return FBoard.get(); }

 signals:
  // A source's link was made and is about to start.
  void LinkMade(int index, THostLink* link);

 private:
  void SetPrintTarget(bool demo);

  TDeskRunSetup FSetup;
  bool FFirstStart = false;
  std::unique_ptr<TSettingsStore> FSettings;
  std::unique_ptr<TMessageDesk> FDesk;
  std::unique_ptr<TPacketSources> FSources;  // after FDesk: the links go first
  std::unique_ptr<TBoardRun> FBoard;         // after both: it reads them
  std::unique_ptr<TMessageHooks> FHooks;     // after the desk: it follows it
  QTimer* FTick = nullptr;
  TRunView* FView = nullptr;  // the one Start was given
};

}  // namespace qm
