// A long printer outage's backlog: QM_BACKLOG (else 100,000) unprinted messages restored at the
// start, then a wanted bulletin every 100 ms; the first one listed makes the page check print
// the whole list as one job (to a PDF file: the layout is the work measured, not the spooler's).
// A 5 ms timer in the window's event loop records how late each tick comes, and each bulletin
// the time from its arrival to its listing. The counters: the longest and 99th percentile
// lateness of the loop, the longest and 99th percentile wait of a bulletin, the restore and the
// job's time in seconds, and the job's pages and lines (every line of the backlog, checked).
// QM_DESK_BENCH_DIR names the folder (else the system's temporary folder).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/desk/DeskBenchKit.h"
#include "desk/MessageDesk.h"
#include "store/MessageStore.h"
#include "tests/support/DeskParts.h"

namespace {

namespace fs = std::filesystem;
using qm::bench::App;
using qm::bench::Bulletin;

constexpr int kProbeMs = 5;
constexpr int kFeedMs = 100;

int Backlog() {
  const char* text = std::getenv("QM_BACKLOG");
  const int n = text ? std::atoi(text) : 0;
  return n > 0 ? n : 100000;
}

// The backlog as a run leaves it when nothing could print: listed, logged, never in a job.
void Seed(const fs::path& store, int count) {
  qm::TMessageStore s(store.string());
  // A thousand at a time, each batch's text index made as the commit thread makes it.
  for (int from = 0; from < count; from += 1000) {
    std::vector<std::int64_t> ids;
    s.Batch([&] {
      for (int i = from; i < std::min(count, from + 1000); ++i) {
        qm::TStoredMessage m;
        m.LocalTime = m.UtcTime = 46363.25 + i / 86400.0;
        m.Source = "K" + std::to_string(i % 9000) + "ABC";
        m.Destination = "APRS";
        m.Path = "WIDE1-1";
        m.Addressee = "BLN" + std::to_string(i % 10);
        m.MessageText = "Net tonight at 2000 on the club repeater, backlog " + std::to_string(i);
        m.Kind = static_cast<int>(qm::mkBulletin);
        m.RawText = m.Source + ">APRS,WIDE1-1::" + m.Addressee + "     :" + m.MessageText;
        m.Line1 = "LOCAL:[07/12/2026 18:00:00]  UTC:[07/12/2026 06:00:00]";
        m.Line2 = "  " + m.Source + ">APRS via WIDE1-1";
        m.Line3 = "  " + m.Addressee + ": " + m.MessageText;
        ids.push_back(s.Add(m));
      }
      s.MarkLogged(ids);
    });
    s.IndexWhenDue();
  }
}

double At(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

void BM_BacklogPrintsWithoutStalling(benchmark::State& state) {
  App();
  const int backlog = Backlog();
  std::vector<double> late, waits;
  double restoreS = 0, jobS = 0;
  qm::TPrintStats printed;
  for (auto _ : state) {
    const fs::path dir = qm::bench::BenchDir("qm-backlog-bench");
    Seed(dir / "Quillmark-messages.db", backlog);
    qm::TDeskSetup setup;
    setup.DataDir = dir.string();
    setup.Printers = qm::TPrinterList{{QStringLiteral("Bench-PDF")}, QStringLiteral("Bench-PDF")};
    setup.PrintToFile = QString::fromStdString((dir / "printed.pdf").string());
    qm::TMessageDesk desk(std::move(setup));
    qm::TDeskChoices choices;
    choices.Selection.Bulletins = true;
    desk.SetChoices(choices);
    QElapsedTimer clock;
    clock.start();
    desk.CreateLogger();
    desk.OpenStore();
    desk.RestoreListed();
    desk.SetReady();
    restoreS = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (desk.Listed().size() != static_cast<std::size_t>(backlog)) {
      state.SkipWithError("the backlog was not restored");
      break;
    }

    std::deque<qint64> arrived;
    QObject::connect(&desk, &qm::TMessageDesk::EntryListed, [&] {
      if (arrived.empty()) return;
      waits.push_back(static_cast<double>(clock.nsecsElapsed() - arrived.front()) / 1e6);
      arrived.pop_front();
    });
    qint64 jobFrom = 0;
    bool done = false;
    QObject::connect(&desk, &qm::TMessageDesk::ListChanged, [&] {
      if (jobFrom != 0 && !done && desk.Listed().size() < static_cast<std::size_t>(backlog)) {
        done = true;
        printed = desk.LastPrinted();
        jobS = static_cast<double>(clock.nsecsElapsed() - jobFrom) / 1e9;
        QTimer::singleShot(1000, &App(), [] { QCoreApplication::quit(); });
      }
    });
    QTimer feeder;
    feeder.setTimerType(Qt::PreciseTimer);
    feeder.setInterval(kFeedMs);
    int sent = 0;
    QObject::connect(&feeder, &QTimer::timeout, [&] {
      if (jobFrom == 0) jobFrom = clock.nsecsElapsed();
      arrived.push_back(clock.nsecsElapsed());
      desk.Take(Bulletin(++sent));
    });
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kProbeMs);
    qint64 due = clock.nsecsElapsed() + kProbeMs * 1000000LL;
    QObject::connect(&probe, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      late.push_back(static_cast<double>(std::max<qint64>(0, now - due)) / 1e6);
      due = now + kProbeMs * 1000000LL;
    });
    // The feed begins once the start's own work on the store (a first look at the text index
    // among it) is over: what is measured is the page's.
    QTimer::singleShot(1000, &feeder, [&feeder] { feeder.start(); });
    probe.start();
    QTimer::singleShot(600000, &App(), [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    feeder.stop();
    probe.stop();
    if (!done) state.SkipWithError("the backlog's page was not printed within 10 minutes");
    desk.KeepUnprintedForNextStart();
    desk.Close();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  if (printed.Lines < 3 * backlog)
    std::fprintf(stderr, "backlog_bench: only %d lines printed\n", printed.Lines);
  state.counters["loop_max_ms"] = late.empty() ? 0 : *std::max_element(late.begin(), late.end());
  state.counters["loop_p99_ms"] = At(late, 0.99);
  state.counters["intake_max_ms"] = waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
  state.counters["intake_p99_ms"] = At(waits, 0.99);
  state.counters["restore_s"] = restoreS;
  state.counters["job_s"] = jobS;
  state.counters["pages"] = printed.Pages;
  state.counters["lines"] = printed.Lines;
}
BENCHMARK(BM_BacklogPrintsWithoutStalling)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
