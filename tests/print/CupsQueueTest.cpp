// Prints through the real CUPS queue Quillmark-PDF (scripts/cups-pdf-queue.sh start).
#include "print/Ics309.h"
#include "print/PrintJobs.h"
#include "print/ProgramFont.h"
#include "tests/support/CupsPdfQueue.h"
#include "tests/support/PdfTools.h"
#include "tests/support/SpoolWait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QTemporaryDir>

#include <climits>
#include <csignal>

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qm {
namespace {

using test::WaitWhile;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const QStringList Entry{QStringLiteral("LOCAL:[07/12/2026 22:01:02]  UTC:[07/12/2026 22:01:02]"),
                        QStringLiteral("  N0CALL>APRS via WIDE1-1,WIDE2-1"),
                        QStringLiteral("  BLN1: Net tonight at 8 pm on 147.000")};

QFont ListFont() {
  return ProgramFont(QStringLiteral("Courier New"), 10);
}

TEST(CupsQueueTest, ListJobReachesThePdfQueueUnderItsName) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();

  TPrintJobs jobs;
  const int index = int(jobs.Printers().indexOf(test::CupsPdfQueue));
  ASSERT_GE(index, 0) << "queue " << test::CupsPdfQueue.toStdString()
                      << " not installed; run scripts/cups-pdf-queue.sh start";
  jobs.SelectPrinter(index);
  EXPECT_EQ(jobs.CurrentPrinterName(), test::CupsPdfQueue);

  const QStringList& entry = Entry;
  const QSet<int> before = test::CompletedJobIds();
  const TJobTicket ticket = jobs.PrintText(ListJobDocument(entry), ListFont());
  EXPECT_EQ(jobs.LastJob().Pages, 1);
  EXPECT_EQ(ticket.Printer, test::CupsPdfQueue);
  EXPECT_GT(ticket.SpoolerJob, 0);

  const int id = test::WaitForNewCompletedJob(before, 60000);
  ASSERT_GE(id, 0) << "no job completed on " << test::CupsPdfQueue.toStdString() << " within 60 s";
  EXPECT_EQ(id, ticket.SpoolerJob);
  EXPECT_EQ(jobs.JobState(ticket).State, ssCompleted);
  EXPECT_EQ(test::JobName(id), QStringLiteral("Quillmark"));
  const QString pdf = test::JobPdf(id);
  ASSERT_FALSE(pdf.isEmpty()) << "no PDF for job " << id << " in " << test::CupsPdfFolder.toStdString();
  EXPECT_EQ(test::NewestCompletedJobPdf(), pdf);
  EXPECT_EQ(test::PdfPages(pdf), 1);
  EXPECT_THAT(test::StdLines(test::PdfLines(pdf)), ElementsAreArray(test::AsPdfTextLines(entry)));
}

// A reprint's mark and the header and footer on every page of a job of two pages, as the
// queue printed it; then the communications log as a job of its own, framed the same way.
TEST(CupsQueueTest, FramedPagesAndTheLogReachTheQueue) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  TPrintJobs jobs;
  const int index = int(jobs.Printers().indexOf(test::CupsPdfQueue));
  ASSERT_GE(index, 0) << "run scripts/cups-pdf-queue.sh start";
  jobs.SelectPrinter(index);
  jobs.SetPageFrame({true, QStringLiteral("W1AW"), QStringLiteral("2026-12-10 21:05 UTC"), 0,
                     QStringLiteral("REPRINT of job 12")});
  QStringList lines;
  for (int i = 1; i <= 90; ++i) lines << QStringLiteral("Line %1 of the reprint").arg(i);
  QSet<int> before = test::CompletedJobIds();
  const TJobTicket ticket = jobs.PrintText(ListJobDocument(lines), ListFont());
  ASSERT_EQ(test::WaitForNewCompletedJob(before, 60000), ticket.SpoolerJob);
  const QString pdf = test::JobPdf(ticket.SpoolerJob);
  ASSERT_EQ(test::PdfPages(pdf), 2);
  QStringList printed;
  for (int page = 1; page <= 2; ++page) {
    SCOPED_TRACE(page);
    const QStringList text = test::PdfLines(pdf, page, page);
    ASSERT_GE(text.size(), 4);
    EXPECT_EQ(text[0], QStringLiteral("REPRINT of job 12"));
    EXPECT_EQ(text[1], QStringLiteral("W1AW   printed 2026-12-10 21:05 UTC"));
    EXPECT_EQ(text.last(), QStringLiteral("W1AW   page %1").arg(page));
    printed += text.mid(2, text.size() - 3);
  }
  // No line lost or doubled between the pages.
  EXPECT_EQ(printed, lines);

  TCommsLog log = MakeCommsLog(QStringLiteral("W1AW"), QStringLiteral("alice"), 46366.0, 46367.0,
                               {{46366.5, "KB1AB-7", "W1AW", "Shelter at the school, 40 cots"}},
                               {{46366.6, "W1AW", "KB1AB-7", "Roger, 20 cots on the way"}});
  before = test::CompletedJobIds();
  const TJobTicket logged = PrintCommsLog(jobs, log);
  EXPECT_EQ(jobs.PageFrame().Mark, QStringLiteral("REPRINT of job 12"));  // the jobs' own frame again
  ASSERT_EQ(test::WaitForNewCompletedJob(before, 60000), logged.SpoolerJob);
  EXPECT_EQ(test::JobName(logged.SpoolerJob), QStringLiteral("Quillmark ICS-309"));
  const QString text = test::PdfText(test::JobPdf(logged.SpoolerJob));
  EXPECT_THAT(text.toStdString(), HasSubstr("COMMUNICATIONS LOG (ICS 309)"));
  EXPECT_THAT(text.toStdString(), HasSubstr("Roger, 20 cots on the way"));
  EXPECT_THAT(text.toStdString(), ::testing::Not(HasSubstr("REPRINT")));
}

// With the archive on, each job the spooler takes is also kept as a PDF file of its own,
// with the same text the queue printed; a job to a PDF file instead of a printer is not.
TEST(CupsQueueTest, ArchiveKeepsOneCopyPerJobSentToThePrinter) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  QTemporaryDir dir;
  TPrintJobs jobs;
  const int index = int(jobs.Printers().indexOf(test::CupsPdfQueue));
  ASSERT_GE(index, 0) << "run scripts/cups-pdf-queue.sh start";
  jobs.SelectPrinter(index);
  QStringList failures;
  jobs.ArchiveFailed = [&](const QString& reason) { failures << reason; };
  jobs.SetArchiveFolder(dir.filePath(QStringLiteral("archive")));

  std::vector<std::pair<int, QString>> printed;  // spooler job, archive copy
  for (const char* text : {"First page", "Second page"}) {
    const TJobTicket ticket = jobs.PrintText(TextJobDocument(QString::fromLatin1(text)), ListFont());
    ASSERT_GT(ticket.SpoolerJob, 0);
    printed.emplace_back(ticket.SpoolerJob, jobs.LastArchived());
  }
  jobs.SetOutputFile(dir.filePath(QStringLiteral("to-a-file.pdf")));
  jobs.PrintText(TextJobDocument(QStringLiteral("Not to the printer")), ListFont());
  EXPECT_EQ(jobs.LastArchived(), QString());

  const QString day = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
  QStringList copies;
  for (const QFileInfo& f : QDir(dir.filePath(QStringLiteral("archive/") + day)).entryInfoList(QDir::Files))
    copies << f.filePath();
  ASSERT_EQ(copies.size(), 2) << copies.join(u' ').toStdString();
  for (const auto& [job, copy] : printed) {
    SCOPED_TRACE(job);
    EXPECT_TRUE(copies.contains(copy)) << copy.toStdString();
    EXPECT_TRUE(copy.endsWith(QStringLiteral("-job%1.pdf").arg(job))) << copy.toStdString();
    ASSERT_EQ(WaitWhile(jobs, TJobTicket{test::CupsPdfQueue, job}, {ssPending}).State, ssCompleted);
    EXPECT_EQ(test::PdfLines(copy), test::PdfLines(test::JobPdf(job)));
  }
  EXPECT_TRUE(failures.isEmpty()) << failures.join(u' ').toStdString();
}

// The operator is rarely root: a job of another user must become a file too, not a job
// CUPS counts printed while the queue's writer could not write it.
TEST(CupsQueueTest, AnotherUsersJobBecomesTheirFile) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  const bool root = ::geteuid() == 0;
  const QString user = root ? QStringLiteral("nobody") : QString();
  const QSet<int> before = test::CompletedJobIds();
  const int id = test::SubmitTextAs(user, QStringLiteral("Quillmark other user"), "Page of another user\n");
  ASSERT_EQ(test::WaitForNewCompletedJob(before, 60000), id);
  const QString pdf = test::JobPdf(id);
  ASSERT_FALSE(pdf.isEmpty()) << "job " << id << " completed without a PDF in "
                              << test::CupsPdfFolder.toStdString();
  if (root) {
    EXPECT_EQ(QFileInfo(pdf).owner(), user);
  }
  EXPECT_THAT(test::StdLines(test::PdfLines(pdf)), ElementsAre("Page of another user"));
}

TEST(CupsQueueTest, ConfirmedPrintDialogKeepsTheChosenQueue) {
  TPrintJobs jobs;
  const int index = int(jobs.Printers().indexOf(test::CupsPdfQueue));
  ASSERT_GE(index, 0) << "run scripts/cups-pdf-queue.sh start";
  jobs.SelectPrinter(index);
  {
    QPrintDialog dialog(&jobs.SetupPrinter());
    dialog.open();
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
  }
  jobs.AcceptSetup();
  EXPECT_EQ(jobs.CurrentPrinterName(), test::CupsPdfQueue);
  EXPECT_EQ(jobs.Printer().printerName(), test::CupsPdfQueue);
  EXPECT_EQ(jobs.Printer().outputFormat(), QPrinter::NativeFormat);
}

// Breaks the spooler in the ways a running station meets; puts cupsd and the queue back as
// `cups-pdf-queue.sh start` makes them after each test, also after a failure.
class CupsFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString missing = test::MissingPopplerTools();
    if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
    const int index = int(FJobs.Printers().indexOf(test::CupsPdfQueue));
    ASSERT_GE(index, 0) << "run scripts/cups-pdf-queue.sh start";
    FJobs.SelectPrinter(index);
    // Job files of our own are made here: none may be left behind.
    ASSERT_TRUE(FTemp.isValid());
    FOldTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(FTemp.path()));
  }
  void TearDown() override {
    qputenv("TMPDIR", FOldTemp);
    SignalCupsd(SIGCONT);  // a test that failed while cupsd was frozen
    test::CupsPdfQueueScript(QStringLiteral("start"));
  }
  // Signals the cupsd that scripts/cups-pdf-queue.sh started; false when there is none.
  static bool SignalCupsd(int signal) {
    QFile file(QStringLiteral("/run/quillmark-cupsd.pid"));
    const pid_t pid = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
    return pid > 0 && ::kill(pid, signal) == 0;
  }
  QStringList LeftInTemp() const { return QDir(FTemp.path()).entryList(QDir::Files); }

  TPrintJobs FJobs;
  QTemporaryDir FTemp;
  QByteArray FOldTemp;
};

TEST_F(CupsFaultTest, AJobTheSpoolerDoesNotTakeIsAnError) {
  struct Case {
    const char* name;
    std::function<void()> fault;
    const char* reason;
  } const cases[] = {
      {"queue rejecting jobs", [] { test::RunTool("cupsreject", {test::CupsPdfQueue}); },
       "not accepting jobs"},
      {"queue removed",
       [] {
         test::RunTool("lpadmin", {"-x", test::CupsPdfQueue});
       },
       "does not exist"},
      {"cupsd stopped", [] { test::CupsPdfQueueScript("halt"); }, "no answer from the print service"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.fault();
    try {
      const TJobTicket ticket = FJobs.PrintText(ListJobDocument(Entry), ListFont());
      ADD_FAILURE() << "printed as job " << ticket.SpoolerJob;
    } catch (const EPrintError& e) {
      EXPECT_THAT(e.what(), StartsWith("The print spooler refused the job: "));
      EXPECT_THAT(e.what(), HasSubstr(c.reason));
    }
    EXPECT_FALSE(FJobs.Busy());
    EXPECT_THAT(LeftInTemp(), ElementsAre());
    test::CupsPdfQueueScript(QStringLiteral("start"));
  }
}

TEST_F(CupsFaultTest, AJobTheSpoolerDropsIsFailed) {
  test::RunTool("cupsdisable", {test::CupsPdfQueue});  // jobs wait in the queue
  const TJobTicket ticket = FJobs.PrintText(ListJobDocument(Entry), ListFont());
  EXPECT_EQ(FJobs.JobState(ticket).State, ssPending);
  test::RunTool("cancel", {QString::number(ticket.SpoolerJob)});
  const TSpoolAnswer cancelled = FJobs.JobState(ticket);
  EXPECT_EQ(cancelled.State, ssFailed);
  EXPECT_EQ(cancelled.Failure, sfCancelled);
  EXPECT_THAT(cancelled.Reason.toStdString(),
              StartsWith("job " + std::to_string(ticket.SpoolerJob) + " on Quillmark-PDF was cancelled"));

  const TSpoolAnswer unknown = FJobs.JobState(TJobTicket{test::CupsPdfQueue, INT_MAX});
  EXPECT_EQ(unknown.State, ssFailed);
  EXPECT_EQ(unknown.Failure, sfForgotten);
  // Never made, so no word of its end: printed again rather than taken as printed.
  EXPECT_EQ(unknown.Reason,
            QStringLiteral("the print spooler forgot job %1 on Quillmark-PDF without a word on how it ended")
                .arg(INT_MAX));
  EXPECT_EQ(FJobs.JobState(TJobTicket{QStringLiteral("/tmp/x.pdf"), 0}).State, ssCompleted);
}

TEST_F(CupsFaultTest, AJobTakenBeforeTheSpoolerStopsPrintsOnceWhenItIsBack) {
  test::RunTool("cupsdisable", {test::CupsPdfQueue});  // held until cupsd has gone
  const QSet<int> before = test::CompletedJobIds();
  const TJobTicket ticket = FJobs.PrintText(ListJobDocument(Entry), ListFont());
  ASSERT_GT(ticket.SpoolerJob, 0);
  EXPECT_EQ(FJobs.JobState(ticket).State, ssPending);

  // Frozen, then stopped: the answer comes quickly either way, and the job is not given up.
  struct Fault {
    const char* name;
    std::function<void()> down, up;
  } const faults[] = {
      {"cupsd frozen", [] { ASSERT_TRUE(SignalCupsd(SIGSTOP)); }, [] { SignalCupsd(SIGCONT); }},
      {"cupsd stopped", [] { test::CupsPdfQueueScript(QStringLiteral("halt")); },
       [] { test::CupsPdfQueueScript(QStringLiteral("start")); }},  // also enables the queue again
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    fault.down();
    QElapsedTimer asked;
    asked.start();
    const TSpoolAnswer down = FJobs.JobState(ticket);
    EXPECT_LT(asked.elapsed(), 2500);
    EXPECT_EQ(down.State, ssUnreachable);
    EXPECT_THAT(down.Reason.toStdString(), HasSubstr("no answer from the print service"));
    fault.up();
  }
  const TSpoolAnswer back = WaitWhile(FJobs, ticket, {ssPending, ssUnreachable});
  ASSERT_EQ(back.State, ssCompleted) << back.Reason.toStdString();
  EXPECT_EQ(test::CompletedJobIds() - before, QSet<int>{ticket.SpoolerJob});
  EXPECT_EQ(test::JobPdfCount(ticket.SpoolerJob), 1);
  EXPECT_THAT(test::StdLines(test::PdfLines(test::JobPdf(ticket.SpoolerJob))),
              ElementsAreArray(test::AsPdfTextLines(Entry)));
  EXPECT_THAT(LeftInTemp(), ElementsAre());
}

}  // namespace
}  // namespace qm
