#include "app/Unattended.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <stdexcept>

#include "app/StoredChoices.h"
#include "base/AsciiText.h"
#include "print/ProgramFont.h"
#include "print/ProgramText.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
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
  desk->Queue().SetFonts(ProgramFont(QStringLiteral("Courier New"), 10),
                         ProgramFont(QStringLiteral("MS Sans Serif"), 8));
  connect(desk, &TMessageDesk::FailureToReport, this, [this](const QString& text, bool) { Say(text); });
  connect(desk, &TMessageDesk::EndRequested, this, [this] { emit Ended(); });

  Step("The log", [desk] { desk->CreateLogger(); });
  desk->LogMessage("Quillmark runs without a window");
  TDeskChoices choices;
  Step("The settings", [&] {
    choices = ReadDeskChoices(*FSettings);
    FHostSettings = ReadHostSettings(*FSettings);
  });
  FSetup.Options.ApplyTo(FHostSettings);
  if (firstStart) Say(QStringLiteral("No settings in %1 yet").arg(QString::fromStdString(FSetup.IniFile)));
  Step("The printer", [this, desk] {
    if (FSetup.Options.Printer.isEmpty()) return;
    const int index = desk->PrintJobs()->Printers().indexOf(FSetup.Options.Printer);
    if (index < 0)
      throw std::runtime_error("There is no printer \"" + FSetup.Options.Printer.toStdString() + "\"");
    desk->PrintJobs()->SelectPrinter(index);
  });
  Step("The message store", [desk] { desk->OpenStore(); });
  Step("The source", [this] { ConnectHost(); });
  Step("The list of the last run", [desk] { desk->RestoreListed(); });
  if (FLink) {
    TclsMyInfo info;
    Step("The own callsign", [&] { FLink->FillMyInfo(info); });
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
  FLink.reset();
  FDesk->Close();
}

void TUnattendedDesk::ConnectHost() {
  FLink = CreateHostLink(FHostSettings);
  if (!FLink) throw std::runtime_error("No packet source could be made from the connection settings");
  TclsUIV* link = FLink.get();
  FDesk->LogOutages(*link);
  connect(link, &TclsUIV::OnDataAvailable, this, [this] {
    if (FLink) FDesk->DataAvailable(*FLink);
  });
  connect(link, &TclsUIV::OnUIView32IsClosing, this, [this] { End(); });
  const QString source =
      link->SourceKind() +
      (link->SourcePlace().isEmpty() ? QString() : QStringLiteral(" ") + link->SourcePlace());
  connect(link, &TclsUIV::StateChanged, this,
          [this, source](const QString& state) { Say(source + QStringLiteral(": ") + state); });
  connect(link, &TclsUIV::OutageLogLine, this, [](const QString& line) {
    std::fprintf(stderr, "quillmark: %s\n", line.toLocal8Bit().constData());
  });
  FDesk->SetDemo(link->PlaysBundledDemo());
  QString folder = FSetup.Options.PrintToFolder;
  if (folder.isEmpty() && link->PlaysBundledDemo())
    folder = QDir(FDesk->DataDir()).absoluteFilePath(QStringLiteral("demo-pages"));
  FDesk->PrintJobs()->SetOutputFolder(folder);
  if (link->PlaysBundledDemo())
    Say(QStringLiteral("No source is chosen: the demo traffic plays, its pages become PDF files in ") +
        folder);
  link->Start();
}

void TUnattendedDesk::End() {
  if (FEnding) return;
  FEnding = true;
  // No packet comes after this; those heard are judged, then Ended follows.
  FLink.reset();
  FDesk->HostClosing();
}

QString TUnattendedDesk::PdfFolderUsed() const {
  const QString folder = FDesk->PrintJobs()->OutputFolder();
  return folder.isEmpty() || !QDir(folder).exists() ? QString() : folder;
}

void TUnattendedDesk::Say(const QString& text) {
  std::fprintf(stderr, "quillmark: %s\n", text.toLocal8Bit().constData());
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

void OnSignal(int) {
  // Only what is safe in a handler: one byte down the pipe.
  const char byte = 1;
  const int saved = errno;
  [[maybe_unused]] const ssize_t ignored = ::write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

bool EndOnSignals(QObject* owner, std::function<void()> end) {
  if (gSignalPipe[0] < 0 && ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, owner);
  QObject::connect(notifier, &QSocketNotifier::activated, owner, [end = std::move(end)] {
    char bytes[16];
    while (::read(gSignalPipe[0], bytes, sizeof bytes) > 0) {
    }
    end();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}
#else
bool EndOnSignals(QObject*, std::function<void()>) {
  return false;
}
#endif

}  // namespace qm
