// A program killed at one exact point of handing a page to CUPS, for the tests that look
// for its job afterwards:
//   print_kill_child QUEUE TOKEN numbered   killed once the job has its number, before its page
//   print_kill_child QUEUE TOKEN handed     killed once the page is handed over, before its
//                                           number could be kept
// Says "job N" on standard output before it dies; ends with 2 when it could not print.
#include "print/PrintJobs.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 4) return 2;
  const QString queue = QString::fromLocal8Bit(argv[1]);
  const QUuid token(QString::fromLatin1(argv[2]));
  const bool atNumber = std::strcmp(argv[3], "numbered") == 0;
  try {
    qm::TPrintJobs jobs(qm::TPrinterList{{queue}, {}});
    jobs.SelectPrinter(0);
    const qm::TJobTicket ticket =
        jobs.PrintText(qm::TextJobDocument(QStringLiteral("Page of a program killed while printing")),
                       QFont(), qm::TPrintJobs::JobTitle, token, [&](const qm::TJobTicket& numbered) {
                         std::printf("job %d\n", numbered.SpoolerJob);
                         std::fflush(stdout);
                         if (atNumber) std::raise(SIGKILL);
                       });
    std::fflush(stdout);
    (void)ticket;
    std::raise(SIGKILL);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
  return 2;
}
