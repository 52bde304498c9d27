#include "run/DeskRun.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <stdexcept>

#include "print/PrintJobs.h"
#include "print/ProgramFont.h"
#include "run/Board.h"
#include "run/MessageHooks.h"
#include "run/RunStart.h"
#include "run/StartTrace.h"
#include "run/StoredChoices.h"

namespace qm {

TDeskRun::TDeskRun(TDeskRunSetup setup, QObject* parent) : QObject(parent), FSetup(std::move(setup)) {
  FFirstStart = !QFileInfo::exists(QString::fromStdString(FSetup.IniFile));
  FSettings = std::make_unique<TSettingsStore>(FSetup.IniFile);
  FDesk = std::make_unique<TMessageDesk>(FSetup.Desk);
  // A page in the list's font, a full text in the window's, with a window or without.
  FDesk->SetFonts(ProgramFont(QStringLiteral("Courier New"), 10),
                  ProgramFont(QStringLiteral("MS Sans Serif"), 8));
  TPacketSources::TMaker maker = FSetup.MakeLink ? FSetup.MakeLink : TPacketSources::TMaker(MakeSourceLink);
  FSources = std::make_unique<TPacketSources>(*FDesk, std::move(maker));
  THostSettings first;
  if (FSetup.DefaultTransport) first.Transport = *FSetup.DefaultTransport;
  FSetup.Options.ApplyTo(first);
  FSources->Put(0, first, false);
}

TDeskRun::~TDeskRun() {
  StopBoard();
  // While the log still writes: it hears what the hook leaves undone.
  FHooks.reset();
  FSources->Clear();
  FDesk->Close();
}

void TRunView::ChoosePrinter(TDeskRun& run) {
  run.ChooseNamedPrinter();
}

void TRunView::ConnectSource(TDeskRun& run, std::size_t index) {
  run.ConnectSource(index, run.Sources().At(index).Settings);
}

void TRunView::Ready(TDeskRun& run) {
  run.Desk().SetReady();
}

void TDeskRun::Start(TRunView& view) {
  FView = &view;
  Step("The log", [this] { FDesk->CreateLogger(); });
  view.LogOpened(*this);
  Step("The settings", [this, &view] {
    view.ReadChoices(*this);
    LoadSources();
    view.SourcesRead(*this);
  });
  Step("The message hook", [this] { StartHooks(); });
  StartMark("settings read");
  Step("The printer", [this, &view] { view.ChoosePrinter(*this); });
  Step("The message store", [this] { FDesk->OpenStore(); });
  StartMark("store opened");
  // Packets a link hands over from here wait until the choices and the list are there.
  for (std::size_t i = 0; i < FSources->Count(); ++i)
    Step("The source", [this, &view, i] { view.ConnectSource(*this, i); });
  StartMark("sources connected");
  view.HandOverChoices(*this);
  Step("The list of the last run", [this] { FDesk->RestoreListed(); });
  StartMark("list restored");
  view.Ready(*this);
}

bool TDeskRun::Step(const char* what, const std::function<void()>& step) {
  QString why;
  try {
    step();
    return true;
  } catch (const std::exception& e) {
    why = QString::fromUtf8(e.what());
  } catch (...) {
    why = QStringLiteral("Unknown failure");
  }
  if (FView) FView->StepFailed(QString::fromLatin1(what), why);
  return false;
}

void TDeskRun::LoadSources() {
  THostSettings defaults;
  if (FSetup.DefaultTransport) defaults.Transport = *FSetup.DefaultTransport;
  std::vector<THostSettings> sources;
  std::exception_ptr failed;
  try {
    sources = ReadHostSources(*FSettings, defaults);
  } catch (...) {
    failed = std::current_exception();
    sources = {defaults};
  }
  // A source named on the command line is this run's only one.
  if (FSetup.Options.Transport) sources.resize(1);
  while (FSources->Count() > sources.size()) FSources->Remove(FSources->Count() - 1);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    FSetup.Options.ApplyTo(sources[i]);
    FSources->Put(i, sources[i], false);
    if (!failed) FSources->SetKept(i);
  }
  if (failed) std::rethrow_exception(failed);
}

void TDeskRun::ConnectSource(std::size_t index, const THostSettings& settings) {
  std::vector<THostSettings> all;
  for (std::size_t i = 0; i < FSources->Count(); ++i)
    all.push_back(i == index ? settings : FSources->At(i).Settings);
  if (index >= FSources->Count()) all.push_back(settings);
  if (const QString clash = SourcesClash(all); !clash.isEmpty()) {
    if (index == 0) FSources->Put(0, settings, false);
    FSources->SetState(index, QStringLiteral("Not connected: ") + clash);
    throw std::runtime_error(clash.toStdString());
  }
  if (index == 0) {
    FDesk->ResetPacketsHeard();
    // Also where this source cannot be made and the others run.
    SetPrintTarget(false);
  }
  THostLink* link = FSources->Put(index, settings);
  if (index == 0) {
    // Choosing a real source takes the demo's messages off the list.
    FDesk->SetDemo(link->PlaysBundledDemo());
    UpdatePrintTarget();
  }
  emit LinkMade(static_cast<int>(index), link);
  try {
    FSources->Start(index);
  } catch (const EHostAbsent&) {
    // The link waits for its host, and its state says so.
    throw;
  } catch (const std::exception&) {
    // The link was let go: no demo plays.
    if (index == 0) {
      FDesk->SetDemo(false);
      UpdatePrintTarget();
    }
    throw;
  }
}

bool TDeskRun::PlaysBundledDemo() const {
  const THostLink* first = FSources->Link(0);
  return first && first->PlaysBundledDemo();
}

void TDeskRun::UpdatePrintTarget() {
  SetPrintTarget(PlaysBundledDemo());
}

void TDeskRun::SetPrintTarget(bool demo) {
  QString folder = FSetup.Options.PrintToFolder;
  if (folder.isEmpty() && demo)
    folder =
        QDir(QString::fromStdString(FSetup.Desk.DataDir.empty() ? std::string(".") : FSetup.Desk.DataDir))
            .absoluteFilePath(QStringLiteral("demo-pages"));
  FDesk->SetPrintFolder(folder);
}

QString TDeskRun::PdfFolderUsed() const {
  const QString folder = FDesk->PrintFolder();
  return folder.isEmpty() || !QDir(folder).exists() ? QString() : folder;
}

bool TDeskRun::ChooseNamedPrinter() {
  const QString& name = FSetup.Options.Printer;
  if (name.isEmpty()) return false;
  const QStringList printers = FDesk->Printers();
  if (QString missing = MissingPrinter(printers, name); !missing.isEmpty()) {
    missing[0] = missing[0].toUpper();
    throw EPrintError(missing.toStdString());
  }
  const int index = static_cast<int>(printers.indexOf(name));
  FDesk->SelectPrinter(index);
  return true;
}

void TDeskRun::StartHooks() {
  FHooks.reset();
  THookSetup setup;
  setup.Choices = ReadHookChoices(*FSettings);
  for (const QString& problem : setup.Choices.Problems) FDesk->LogMessage(problem.toStdString());
  if (setup.Choices.Program.isEmpty()) return;
  FDesk->LogMessage("Each kept message goes to the hook " + setup.Choices.Program.toStdString() +
                    " (at most " + std::to_string(setup.Choices.MaxRunning) + " at once, " +
                    std::to_string(setup.Choices.TimeoutSeconds) + " seconds each)");
  setup.Log = [desk = FDesk.get()](const std::string& line) { desk->LogMessage(line); };
  setup.Ticks = FSetup.Desk.Ticks;
  FHooks = std::make_unique<TMessageHooks>(std::move(setup));
  FHooks->Follow(*FDesk);
}

void TDeskRun::Tick(TDateTime utc) {
  if (FHooks) FHooks->Tick();
  FDesk->RetryStore();
  FDesk->PurgeIfNewDay(utc);
  FDesk->HourlyCounts(utc);
}

void TDeskRun::StartTicking() {
  if (FTick) return;
  FTick = new QTimer(this);
  FTick->setInterval(1000);
  connect(FTick, &QTimer::timeout, this, [this] { Tick(FDesk->Now(tfUTC)); });
  FTick->start();
}

TBoardRun& TDeskRun::StartBoard(TBoardPlan plan) {
  FBoard = std::make_unique<TBoardRun>(*FDesk, *FSources, std::move(plan));
  FBoard->Start();
  return *FBoard;
}

void TDeskRun::StopBoard() {
  FBoard.reset();
}

}  // namespace qm
