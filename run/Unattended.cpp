#include "run/Unattended.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <stdexcept>

#include "base/AsciiText.h"
#include "print/ProgramFont.h"
#include "print/ProgramText.h"
#include "run/StoredChoices.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace qm {

TUnattendedDesk::TUnattendedDesk(TUnattendedSetup setup, QObject* parent)
    : QObject(parent), FSetup(std::move(setup)) {
  const bool firstStart = !QFileInfo::exists(QString::fromStdString(FSetup.IniFile));
  FSettings = std::make_unique<TSettingsStore>(FSetup.IniFile);
  TDeskSetup d;
  d.DataDir = FSetup.LogDir;
  FDesk = std::make_unique<TMessageDesk>(std::move(d));
  TMessageDesk* desk = FDesk.get();
  // The fonts the window prints in, so a page looks the same either way.
  desk->SetFonts(ProgramFont(QStringLiteral("Courier New"), 10),
                 ProgramFont(QStringLiteral("MS Sans Serif"), 8));
  connect(desk, &TMessageDesk::FailureToReport, this, [this](const QString& text, bool) { Say(text); });
  connect(desk, &TMessageDesk::EndRequested, this, [this] { emit Ended(); });
  FSources = std::make_unique<TPacketSources>(*desk, MakeSourceLink);
  // Nothing is left to hear once every source that ends by itself has ended.
  connect(FSources.get(), &TPacketSources::AllEnded, this, [this] { End(); });
  connect(FSources.get(), &TPacketSources::SourceChanged, this, [this](int index) {
    // A source up or down once per change, not once per retry ("KISS 127.0.0.1:8001:
    // Connected"); the link's own outage lines say when it went and how long it lasted.
    if (static_cast<std::size_t>(index) >= FSources->Count() || !FSources->Link(index)) return;
    const TPacketSources::TSource& source = FSources->At(index);
    if (source.State == QLatin1String("Not connected") ||
        source.State.startsWith(QLatin1String("Connecting")))
      return;
    const int down = IsLinkDown(source.State) ? 1 : 0;
    if (FSaidDown.size() <= static_cast<std::size_t>(index)) FSaidDown.resize(index + 1, -1);
    if (FSaidDown[index] == down) return;
    FSaidDown[index] = down;
    const QString name = FSources->Name(index);
    Say((name.isEmpty() ? QString() : name + QStringLiteral(": ")) + source.State);
  });
  // A page printed, a job failed, the list restored or kept: logged by the desk, told here.
  connect(desk, &TMessageDesk::Noted, this, [](const QString& text) { Tell(text); });
  connect(desk, &TMessageDesk::PrinterProblemsChanged, this, [this](const QStringList& problems) {
    for (const QString& line : problems)
      if (!FPrinterSaid.contains(line)) Tell(QStringLiteral("Printer: ") + line);
    if (problems.isEmpty() && !FPrinterSaid.isEmpty()) Tell(QStringLiteral("Printer: ready again"));
    FPrinterSaid = problems;
  });

  Step("The log", [desk] { desk->CreateLogger(); });
  desk->LogMessage("Quillmark runs without a window");
  TDeskChoices choices;
  std::vector<THostSettings> sources{THostSettings{}};
  Step("The settings", [&] {
    choices = ReadDeskChoices(*FSettings);
    sources = ReadHostSources(*FSettings);
  });
  // A source named on the command line is this run's only one.
  if (FSetup.Options.Transport) sources.resize(1);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    FSetup.Options.ApplyTo(sources[i]);
    FSources->Put(i, sources[i], false);
  }
  if (firstStart) Say(QStringLiteral("No settings in %1 yet").arg(QString::fromStdString(FSetup.IniFile)));
  Step("The printer", [this, desk] {
    if (FSetup.Options.Printer.isEmpty()) return;
    const int index = desk->Printers().indexOf(FSetup.Options.Printer);
    if (index < 0)
      throw std::runtime_error("There is no printer \"" + FSetup.Options.Printer.toStdString() + "\"");
    desk->SelectPrinter(index);
  });
  Step("The message store", [desk] { desk->OpenStore(); });
  for (std::size_t i = 0; i < FSources->Count(); ++i) Step("The source", [this, i] { ConnectSource(i); });
  Step("The list of the last run", [desk] { desk->RestoreListed(); });
  if (THostLink* first = FSources->Link(0)) {
    TOwnStation info;
    Step("The own callsign", [&] { first->FillMyInfo(info); });
    choices.Selection.StationCall = UpperCase(info.MyCallsign());
  }
  desk->SetChoices(choices);
  desk->SetReady();

  // What the window's clock does each second: a failing store tried again, the daily purge.
  FClock = new QTimer(this);
  FClock->setInterval(1000);
  connect(FClock, &QTimer::timeout, this, [desk] {
    desk->RetryStore();
    desk->PurgeIfNewDay(desk->Now(tfUTC));
  });
  FClock->start();
}

TUnattendedDesk::~TUnattendedDesk() {
  FSources->Clear();
  FDesk->Close();
}

void TUnattendedDesk::ConnectSource(std::size_t index) {
  std::vector<THostSettings> all;
  for (std::size_t i = 0; i < FSources->Count(); ++i) all.push_back(FSources->At(i).Settings);
  if (const QString clash = SourcesClash(all); !clash.isEmpty())
    throw std::runtime_error(clash.toStdString());
  // Also where the first source cannot be made and the others run.
  if (index == 0) FDesk->SetPrintFolder(FSetup.Options.PrintToFolder);
  THostLink* link = FSources->Put(index, all[index]);
  connect(link, &THostLink::OutageLogLine, this, [](const QString& line) {
    std::fprintf(stderr, "quillmark: %s\n", line.toLocal8Bit().constData());
  });
  if (index == 0) {
    // The station program tells the own station once it is there (it may start later).
    connect(link, &THostLink::OwnStationChanged, this, [this, link] {
      Step("The own callsign", [this, link] {
        TOwnStation info;
        link->FillMyInfo(info);
        TDeskChoices choices = FDesk->Choices();
        choices.Selection.StationCall = UpperCase(info.MyCallsign());
        FDesk->SetChoices(choices);
      });
    });
    FDesk->SetDemo(link->PlaysBundledDemo());
    if (link->PlaysBundledDemo()) {
      QString folder = FSetup.Options.PrintToFolder;
      if (folder.isEmpty()) folder = QDir(FDesk->DataDir()).absoluteFilePath(QStringLiteral("demo-pages"));
      FDesk->SetPrintFolder(folder);
      Say(QStringLiteral("No source is chosen: the demo traffic plays, its pages become PDF files in ") +
          folder);
    }
  }
  FSources->Start(index);
}

void TUnattendedDesk::End() {
  if (FEnding) return;
  FEnding = true;
  // No packet comes after this; those heard are judged, then Ended follows.
  FSources->Clear();
  FDesk->HostClosing();
}

QString TUnattendedDesk::PdfFolderUsed() const {
  const QString folder = FDesk->PrintFolder();
  return folder.isEmpty() || !QDir(folder).exists() ? QString() : folder;
}

void TUnattendedDesk::Tell(const QString& text) {
  std::fprintf(stderr, "quillmark: %s\n", text.toLocal8Bit().constData());
  std::fflush(stderr);
}

void TUnattendedDesk::Say(const QString& text) {
  Tell(text);
  FDesk->LogMessage(ProgramText(text));
}

void TUnattendedDesk::Step(const char* what, const std::function<void()>& step) {
  try {
    step();
  } catch (const std::exception& e) {
    Say(QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromUtf8(e.what()));
  }
}

#ifndef _WIN32
namespace {

int gSignalPipe[2] = {-1, -1};
volatile sig_atomic_t gSignal = SIGTERM;

// The event loop hears a signal within this, or the signal ends the process as if it had not
// been caught: nothing a source or a step does may make the program deaf to it.
constexpr suseconds_t kHeardWithinUs = 800000;

void ArmDeafTimer(suseconds_t us) {
  itimerval timer{};
  timer.it_value.tv_usec = us;
  ::setitimer(ITIMER_REAL, &timer, nullptr);
}

void OnSignal(int signal) {
  // Only what is safe in a handler: one byte down the pipe and a timer.
  const char byte = 1;
  const int saved = errno;
  gSignal = signal;
  [[maybe_unused]] const ssize_t ignored = ::write(gSignalPipe[1], &byte, 1);
  ArmDeafTimer(kHeardWithinUs);
  errno = saved;
}

void OnDeaf(int) {
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  ::sigaction(gSignal, &fallback, nullptr);
  ::raise(gSignal);
}

}  // namespace

bool EndOnSignals(QObject* owner, std::function<void()> end) {
  if (gSignalPipe[0] < 0 && ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, owner);
  QObject::connect(notifier, &QSocketNotifier::activated, owner, [end = std::move(end)] {
    ArmDeafTimer(0);
    char bytes[16];
    while (::read(gSignalPipe[0], bytes, sizeof bytes) > 0) {
    }
    end();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  struct sigaction deaf {};
  deaf.sa_handler = OnDeaf;
  sigemptyset(&deaf.sa_mask);
  return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0 &&
         ::sigaction(SIGHUP, &action, nullptr) == 0 && ::sigaction(SIGALRM, &deaf, nullptr) == 0;
}
#else
bool EndOnSignals(QObject*, std::function<void()>) {
  return false;
}
#endif

}  // namespace qm
