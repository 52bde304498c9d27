// The window from construction to exposed on screen, in process (the QApplication is
// made once, before timing). Reference in the same run: a bare QMainWindow with a list,
// Qt's own floor for showing a window. The first construction of the run (fonts, styles,
// printers looked up for the first time) is reported as the counter first_ms.
// The whole-program figure (process start to mapped window) comes from
// scripts/measure-program.sh startup.
#include "app/MainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

QTemporaryDir* Folder = nullptr;

double ResidentMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kb = 0;
      status >> kb;
      return kb / 1024.0;
    }
    status.ignore(1 << 16, '\n');
  }
  return 0;
}

void WaitExposed(QWidget& window) {
  QElapsedTimer limit;
  limit.start();
  while (!(window.windowHandle() && window.windowHandle()->isExposed())) {
    if (limit.elapsed() > 10000) {
      std::fprintf(stderr, "app_bench: window never exposed\n");
      std::exit(1);
    }
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
}

qm::TMainFormSetup Setup() {
  qm::TMainFormSetup setup;
  setup.IniFile = Folder->filePath(QStringLiteral("Quillmark.ini")).toStdString();
  setup.LogDir = Folder->path().toStdString();
  setup.ReportError = [](const QString&) {};
  setup.Beep = [] {};
  return setup;
}

void MainFormShown(benchmark::State& state) {
  static double first = -1;
  for (auto _ : state) {
    QElapsedTimer timer;
    timer.start();
    auto form = std::make_unique<qm::TMainForm>(Setup());
    form->ShowInitially(false);
    WaitExposed(*form);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    state.SetIterationTime(seconds);
    if (first < 0) first = seconds * 1000.0;
    state.PauseTiming();
    state.counters["rss_MB"] = ResidentMegabytes();
    form.reset();
    QApplication::processEvents();
    state.ResumeTiming();
  }
  state.counters["first_ms"] = first;
}

void BareWindowShown(benchmark::State& state) {
  for (auto _ : state) {
    QElapsedTimer timer;
    timer.start();
    auto window = std::make_unique<QMainWindow>();
    window->setCentralWidget(new QListWidget);
    window->resize(800, 600);
    window->show();
    WaitExposed(*window);
    state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    state.PauseTiming();
    window.reset();
    QApplication::processEvents();
    state.ResumeTiming();
  }
}

BENCHMARK(MainFormShown)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BareWindowShown)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir folder;
  Folder = &folder;
  // Nothing listens on the discard port: the window starts as it would with its server down.
  QFile ini(folder.filePath(QStringLiteral("Quillmark.ini")));
  if (!ini.open(QIODevice::WriteOnly)) return 1;
  ini.write(
      "[Connection]\nTransport=aprs-is\nServer=127.0.0.1\nPort=9\nCallsign=Q0DEMO-9\n"
      "[Settings]\ncbDisablePrinting.Checked=True\n");
  ini.close();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
