#include "run/Unattended.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <stdexcept>

#include "base/AsciiText.h"
#include "base/ProgramText.h"
#include "print/Ics309.h"
#include "print/PrintJobs.h"
#include "print/ProgramFont.h"
#include "run/RunStart.h"
#include "run/StoredChoices.h"
#include "settings/SettingsStore.h"
#include "store/MessageStore.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace qm {

TUnattendedDesk::TUnattendedDesk(TUnattendedSetup setup, QObject* parent)
    : QObject(parent), FSetup(std::move(setup)) {
  TDeskRunSetup r;
  r.Desk.DataDir = FSetup.LogDir;
  r.IniFile = FSetup.IniFile;
  r.Options = FSetup.Options;
  FRun = std::make_unique<TDeskRun>(std::move(r));
  TMessageDesk* desk = &FRun->Desk();
  TPacketSources* sources = &FRun->Sources();
  connect(desk, &TMessageDesk::FailureToReport, this, [this](const QString& text, bool) { Say(text); });
  connect(desk, &TMessageDesk::EndRequested, this, [this] { emit Ended(); });
  // Nothing is left to hear once every source that ends by itself has ended.
  connect(sources, &TPacketSources::AllEnded, this, [this] { End(); });
  connect(sources, &TPacketSources::SourceChanged, this, [this, sources](int index) {
    // A source up or down once per change, not once per retry ("KISS 127.0.0.1:8001:
    // Connected"); the link's own outage lines say when it went and how long it lasted.
    if (static_cast<std::size_t>(index) >= sources->Count() || !sources->Link(index)) return;
    const TPacketSources::TSource& source = sources->At(index);
    if (source.State == QLatin1String("Not connected") ||
        source.State.startsWith(QLatin1String("Connecting")))
      return;
    const int down = IsLinkDown(source.State) ? 1 : 0;
    if (FSaidDown.size() <= static_cast<std::size_t>(index)) FSaidDown.resize(index + 1, -1);
    if (FSaidDown[index] == down) return;
    FSaidDown[index] = down;
    const QString name = sources->Name(index);
    Say((name.isEmpty() ? QString() : name + QStringLiteral(": ")) + source.State);
  });
  connect(FRun.get(), &TDeskRun::LinkMade, this,
          [this](int index, THostLink* link) { LinkMade(index, link); });
  // A page printed, a job failed, the list restored or kept: logged by the desk, told here.
  connect(desk, &TMessageDesk::Noted, this, [](const QString& text) { Tell(text); });
  connect(desk, &TMessageDesk::PrinterProblemsChanged, this, [this](const QStringList& problems) {
    for (const QString& line : problems)
      if (!FPrinterSaid.contains(line)) Tell(QStringLiteral("Printer: ") + line);
    if (problems.isEmpty() && !FPrinterSaid.isEmpty()) Tell(QStringLiteral("Printer: ready again"));
    FPrinterSaid = problems;
  });

  FRun->Start(*this);
}

void TUnattendedDesk::LogOpened(TDeskRun& run) {
  run.Desk().LogMessage("Quillmark runs without a window");
}

void TUnattendedDesk::ReadChoices(TDeskRun& run) {
  FChoices = ReadDeskChoices(run.Settings());
  if (FSetup.Options.Areas) FChoices.Selection.NwsAreas = *FSetup.Options.Areas;
  run.Options().ApplyTo(FChoices);
}

void TUnattendedDesk::SourcesRead(TDeskRun& run) {
  if (run.FirstStart())
    Say(QStringLiteral("No settings in %1 yet").arg(QString::fromStdString(FSetup.IniFile)));
}

void TUnattendedDesk::HandOverChoices(TDeskRun& run) {
  if (THostLink* first = run.Sources().Link(0)) {
    TOwnStation info;
    run.Step("The own callsign", [&] { first->FillMyInfo(info); });
    FChoices.Selection.StationCall = UpperCase(info.MyCallsign());
  }
  run.Desk().SetChoices(FChoices);
}

void TUnattendedDesk::Ready(TDeskRun& run) {
  run.Desk().SetReady();
  run.StartTicking();
}

TUnattendedDesk::~TUnattendedDesk() = default;

void TUnattendedDesk::LinkMade(int index, THostLink* link) {
  connect(link, &THostLink::OutageLogLine, this, [](const QString& line) {
    std::fprintf(stderr, "quillmark: %s\n", line.toLocal8Bit().constData());
  });
  if (index != 0) return;
  // The station program tells the own station once it is there (it may start later).
  connect(link, &THostLink::OwnStationChanged, this, [this, link] {
    FRun->Step("The own callsign", [this, link] {
      TOwnStation info;
      link->FillMyInfo(info);
      TDeskChoices choices = FRun->Desk().Choices();
      choices.Selection.StationCall = UpperCase(info.MyCallsign());
      FRun->Desk().SetChoices(choices);
    });
  });
  if (link->PlaysBundledDemo())
    Say(QStringLiteral("No source is chosen: the demo traffic plays, its pages become PDF files in ") +
        FRun->Desk().PrintFolder());
}

void TUnattendedDesk::End() {
  if (FEnding) return;
  FEnding = true;
  // No packet comes after this; those heard are judged, then Ended follows.
  FRun->Sources().Clear();
  FRun->Desk().HostClosing();
}

void TUnattendedDesk::Tell(const QString& text) {
  std::fprintf(stderr, "quillmark: %s\n", text.toLocal8Bit().constData());
  std::fflush(stderr);
}

void TUnattendedDesk::Say(const QString& text) {
  Tell(text);
  FRun->Desk().LogMessage(ProgramText(text));
}

void TUnattendedDesk::StepFailed(const QString& step, const QString& why) {
  Say(step + QStringLiteral(": ") + why);
}

int CommsLogCommand(const TCommandLine& command, const std::string& iniFile, const std::string& dataDir,
                    QString& out, QString& err) {
  const TRunOptions& o = command.Options;
  std::string station;
  {
    TSettingsStore settings(iniFile);
    const std::vector<THostSettings> sources = ReadHostSources(settings);
    if (!sources.empty()) station = UpperCase(Trim(sources.front().Callsign));
  }
  if (o.Callsign) station = *o.Callsign;
  const std::string store = StoreFileIn(dataDir);
  TCommsLog log;
  try {
    if (!QFileInfo::exists(QString::fromStdString(store)))
      throw EMessageStoreError("No message store in " + dataDir);
    const THistoryReader reader(store);
    log = MakeCommsLog(DisplayText(station), AccountName(), command.LogFrom, command.LogTo,
                       reader.ReceivedBetween(command.LogFrom, command.LogTo),
                       reader.SentBetween(command.LogFrom, command.LogTo, station));
  } catch (const std::exception& e) {
    err = QStringLiteral("quillmark: the messages could not be read: %1\n").arg(QString::fromUtf8(e.what()));
    return 1;
  }
  try {
    const TCommsLogFiles files = SaveCommsLog(log, QString::fromStdString(dataDir));
    out = files.Pdf + u'\n' + files.Csv + u'\n';
    if (!command.PrintLog) return 0;
    TPrintJobs jobs;
    if (!o.PrintToFolder.isEmpty()) {
      jobs.SetOutputFolder(o.PrintToFolder);
    } else if (!o.Printer.isEmpty()) {
      const qsizetype index = jobs.Printers().indexOf(o.Printer);
      if (index < 0) throw EPrintError("No printer \"" + o.Printer.toStdString() + "\" is installed");
      jobs.SelectPrinter(static_cast<int>(index));
    }
    const TJobTicket ticket = PrintCommsLog(jobs, log);
    out += ticket.SpoolerJob > 0
               ? QStringLiteral("printed: job %1 on %2\n").arg(ticket.SpoolerJob).arg(ticket.Printer)
               : QStringLiteral("printed: %1\n").arg(ticket.Printer);
  } catch (const std::exception& e) {
    err = QStringLiteral("quillmark: %1\n").arg(QString::fromUtf8(e.what()));
    return 1;
  }
  return 0;
}

int RunWithoutWindow(TRunStart& start) {
  const std::string logDir = start.DataDir();
  QString pdfDir;
  {
    // Caught before the desk starts: a signal while it starts (a source failing at once, the
    // service stopped early) ends the run once the event loop hears it, as one later does.
    QObject signalOwner;
    TUnattendedDesk* running = nullptr;
    start.EndOnSignals(&signalOwner, [&running] {
      if (running) running->End();
    });
    TUnattendedDesk desk({start.IniFile(), start.DataDir(), start.Options()});
    running = &desk;
    start.StartBoard(desk.Run(), {});
    QObject::connect(&desk, &TUnattendedDesk::Ended, QCoreApplication::instance(),
                     [] { QCoreApplication::exit(0); });
    std::fprintf(stderr, "quillmark: running without a window; the log is in %s\n", logDir.c_str());
    QCoreApplication::exec();
    pdfDir = desk.Run().PdfFolderUsed();
  }
  start.SayWhereFilesAre(pdfDir);
  return 0;
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
