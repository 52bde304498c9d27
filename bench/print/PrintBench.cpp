// Laying out and spooling list jobs to a PDF file printer. Reference in the same run:
// the same text through QTextDocument::print (Qt's own page loop) to the same kind of printer.
#include "print/PrintJobs.h"
#include "print/ProgramFont.h"

#include <QApplication>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTextDocument>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

QTemporaryDir* Folder = nullptr;

// `count` entries as the message list holds them, three lines each.
QStringList Entries(int count) {
  QStringList lines;
  for (int i = 0; i < count; ++i) {
    lines << QStringLiteral("LOCAL:[07/12/2026 22:%1:02]  UTC:[07/12/2026 22:%1:02]")
                 .arg(i % 60, 2, 10, QLatin1Char('0'))
          << QStringLiteral("  N%1CALL>APRS via WIDE1-1,WIDE2-1").arg(i % 10)
          << QStringLiteral("  BLN%1: Net tonight at 8 pm on 147.000, message %2").arg(i % 10).arg(i);
  }
  return lines;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "print_bench: check failed: %s\n", what);
    std::exit(1);
  }
}

void ListJob(benchmark::State& state) {
  const int entries = int(state.range(0));
  const QString text = qm::ListJobDocument(Entries(entries));
  const QFont font = qm::ProgramFont(QStringLiteral("Courier New"), 10);
  qm::TPrintJobs jobs(qm::TPrinterList{});
  jobs.SetOutputFile(Folder->filePath(QStringLiteral("list.pdf")));
  jobs.PrintText(text, font);
  Check(jobs.LastJob().Lines == 3 * entries + 1, "every line printed");
  Check(entries != 21 || jobs.LastJob().Pages == 1, "21 entries fit one page");
  for (auto _ : state) jobs.PrintText(text, font);
  state.counters["pages"] = jobs.LastJob().Pages;
  state.counters["lines"] = jobs.LastJob().Lines;
}

// Until PrintText returns with the job handed to cupsd (CUPS finishes it later on its own).
void ListJobToCups(benchmark::State& state) {
  qm::TPrintJobs jobs;
  const int index = int(jobs.Printers().indexOf(QStringLiteral("Quillmark-PDF")));
  if (index < 0) {
    state.SkipWithError("no Quillmark-PDF queue: run scripts/cups-pdf-queue.sh start");
    for (auto _ : state) {
    }
    return;
  }
  jobs.SelectPrinter(index);
  const QString text = qm::ListJobDocument(Entries(int(state.range(0))));
  const QFont font = qm::ProgramFont(QStringLiteral("Courier New"), 10);
  for (auto _ : state) jobs.PrintText(text, font);
  state.counters["pages"] = jobs.LastJob().Pages;
}

void QtDocumentPrint(benchmark::State& state) {
  const int entries = int(state.range(0));
  QTextDocument document;
  document.setDefaultFont(qm::ProgramFont(QStringLiteral("Courier New"), 10));
  document.setPlainText(qm::ListJobDocument(Entries(entries)));
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(Folder->filePath(QStringLiteral("reference.pdf")));
  printer.setDocName(QStringLiteral("Quillmark"));
  for (auto _ : state) document.print(&printer);
}

BENCHMARK(ListJob)->Arg(21)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(ListJobToCups)->Arg(21)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(QtDocumentPrint)->Arg(21)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir folder;
  Folder = &folder;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
