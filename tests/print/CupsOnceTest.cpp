// Exactly once through the real CUPS spooler: jobs found again by their token after the
// program was killed at the points between the spooler taking a page and its number
// being kept. Each test prints to a queue of its own on the suite's cupsd.
#include "print/PrintJobs.h"
#include "tests/support/CupsPdfQueue.h"
#include "tests/support/CupsProxy.h"
#include "tests/support/PdfTools.h"
#include "tests/support/SpoolWait.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <memory>
#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qm {
namespace {

using test::WaitWhile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const QString Page = TextJobDocument(QStringLiteral("NWS warning for the county"));

class CupsOnceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString missing = test::MissingPopplerTools();
    if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
    ASSERT_TRUE(FTemp.isValid());
    // Job files of our own, and those a killed child leaves, are made here.
    FOldTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(FTemp.path()));
    FQueue = std::make_unique<test::TOwnQueue>(QStringLiteral("once"));
    FJobs = std::make_unique<TPrintJobs>(TPrinterList{{FQueue->Name()}, {}});
    FJobs->SelectPrinter(0);
  }
  void TearDown() override {
    FJobs.reset();
    FQueue.reset();
    qputenv("TMPDIR", FOldTemp);
  }
  const QString& Queue() const { return FQueue->Name(); }

  QTemporaryDir FTemp;
  QByteArray FOldTemp;
  std::unique_ptr<test::TOwnQueue> FQueue;
  std::unique_ptr<TPrintJobs> FJobs;
};

TEST_F(CupsOnceTest, AJobIsFoundByItsTokenWhilePendingAndOnceCompleted) {
  test::RunTool(QStringLiteral("cupsdisable"), {Queue()});
  const QUuid token = QUuid::createUuid();
  int numberedAs = 0;
  const TJobTicket ticket =
      FJobs->PrintText(Page, QFont(), TPrintJobs::JobTitle, token, [&](const TJobTicket& numbered) {
        numberedAs = numbered.SpoolerJob;
        // The spooler has the job, not yet its page; asking about it leaves it so.
        const TFoundJob early = FJobs->FindJob(Queue(), token);
        EXPECT_EQ(early.Ticket.SpoolerJob, numbered.SpoolerJob);
        EXPECT_EQ(early.Answer.State, ssPending);
        EXPECT_EQ(FJobs->JobState(numbered).Reason, TPrintJobs::SendingText);
      });
  ASSERT_GT(ticket.SpoolerJob, 0);
  EXPECT_EQ(numberedAs, ticket.SpoolerJob);
  EXPECT_EQ(ticket.Token, token);

  const TFoundJob pending = FJobs->FindJob(Queue(), token);
  ASSERT_EQ(pending.State, fsFound) << pending.Reason.toStdString();
  EXPECT_EQ(pending.Ticket.SpoolerJob, ticket.SpoolerJob);
  EXPECT_EQ(pending.Ticket.Printer, Queue());
  EXPECT_EQ(pending.Answer.State, ssPending);

  test::RunTool(QStringLiteral("cupsenable"), {Queue()});
  ASSERT_EQ(WaitWhile(*FJobs, ticket, {ssPending}).State, ssCompleted);
  const TFoundJob completed = FJobs->FindJob(Queue(), token);
  ASSERT_EQ(completed.State, fsFound) << completed.Reason.toStdString();
  EXPECT_EQ(completed.Ticket.SpoolerJob, ticket.SpoolerJob);
  EXPECT_EQ(completed.Answer.State, ssCompleted);
  // The operator still sees the title, and one page came out.
  EXPECT_EQ(test::JobName(ticket.SpoolerJob, Queue()), TPrintJobs::JobTitle);
  EXPECT_EQ(test::JobPdfCount(ticket.SpoolerJob), 1);
}

TEST_F(CupsOnceTest, WhereNoJobCarriesTheTokenTheAnswerSaysWhy) {
  struct Case {
    const char* name;
    QString printer;
    QUuid token;
    TFindState state;
  } const cases[] = {
      {"a token no job carries", Queue(), QUuid::createUuid(), fsNotFound},
      {"no token", Queue(), QUuid(), fsCannotTell},
      {"a PDF file, no queue", QStringLiteral("/tmp/quillmark-page.pdf"), QUuid::createUuid(), fsCannotTell},
      {"a queue removed since", Queue() + QStringLiteral("-gone"), QUuid::createUuid(), fsCannotTell},
  };
  // One job on the queue, so that "not found" is not only an empty queue.
  ASSERT_GT(FJobs->PrintText(Page, QFont(), TPrintJobs::JobTitle, QUuid::createUuid()).SpoolerJob, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TFoundJob found = FJobs->FindJob(c.printer, c.token);
    EXPECT_EQ(found.State, c.state) << found.Reason.toStdString();
    EXPECT_EQ(found.Ticket.SpoolerJob, 0);
    EXPECT_EQ(found.Reason.isEmpty(), c.state == fsNotFound) << found.Reason.toStdString();
  }
}

// A real kill (SIGKILL, raised by the child at the point) between the spooler taking the
// job and the number being kept. Found again by the token, or asked about by the number the
// callback kept: a job without its page is cancelled and counts as failed (print it again),
// a job with its page is followed until it prints, once.
TEST_F(CupsOnceTest, AJobOfAKilledProgramIsFoundAndPrintsOnce) {
  struct Case {
    const char* name;
    const char* killedAt;
    bool byToken;  // else by the number the callback was given
    TSpoolState end;
    int pdfs;
  } const cases[] = {
      {"killed before the page, found by token", "numbered", true, ssFailed, 0},
      {"killed before the page, asked by number", "numbered", false, ssFailed, 0},
      {"killed after the page, found by token", "handed", true, ssCompleted, 1},
  };
  const QString child = QDir(QStringLiteral(QM_KILL_CHILD_DIR)).filePath(QStringLiteral("print_kill_child"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QUuid token = QUuid::createUuid();
    QString said;
    ASSERT_TRUE(test::RunsUntilKilled(
        child, {Queue(), token.toString(QUuid::WithoutBraces), QString::fromLatin1(c.killedAt)}, said));
    const int number = said.trimmed().section(QLatin1Char(' '), 1).toInt();
    ASSERT_GT(number, 0) << said.toStdString();

    TJobTicket ticket{Queue(), number, token};
    TSpoolAnswer answer;
    if (c.byToken) {
      const TFoundJob found = FJobs->FindJob(Queue(), token);
      ASSERT_EQ(found.State, fsFound) << found.Reason.toStdString();
      EXPECT_EQ(found.Ticket.SpoolerJob, number);
      answer = found.Answer;
    } else {
      answer = FJobs->JobState(ticket);
    }
    if (c.end == ssFailed) {
      EXPECT_EQ(answer.State, ssFailed);
      EXPECT_EQ(answer.Failure, sfNoPage);
      EXPECT_THAT(answer.Reason.toStdString(), HasSubstr("never received its page"));
      // Cancelled, so it cannot print later either.
      EXPECT_THAT(FJobs->JobState(ticket).Reason.toStdString(), HasSubstr("was cancelled"));
    } else {
      EXPECT_EQ(WaitWhile(*FJobs, ticket, {ssPending}).State, ssCompleted);
    }
    EXPECT_EQ(test::JobPdfCount(number), c.pdfs);
  }
}

// The spooler takes the page and its answer never comes (a go-between drops it): on a
// spooler that froze there the page may print all the same, so it is not a refusal (which
// the caller would print again) but a job to follow by its number; it prints once.
TEST_F(CupsOnceTest, APageTheSpoolerNeverConfirmedIsFollowedAndPrintsOnce) {
  test::TMutingCupsProxy proxy;
  TJobTicket ticket;
  {
    const test::TCupsServerFor viaProxy("127.0.0.1:" + QByteArray::number(proxy.Port()));
    QElapsedTimer took;
    took.start();
    ticket = FJobs->PrintText(Page, QFont(), TPrintJobs::JobTitle, QUuid::createUuid(),
                              [&](const TJobTicket&) { proxy.Mute(); });
    EXPECT_LT(took.elapsed(), 15000);  // the wait for the answer is bounded (10 s)
  }
  ASSERT_GT(ticket.SpoolerJob, 0);
  const TSpoolAnswer end = WaitWhile(*FJobs, ticket, {ssPending});
  EXPECT_EQ(end.State, ssCompleted) << end.Reason.toStdString();
  EXPECT_EQ(test::JobPdfCount(ticket.SpoolerJob), 1);
}

// Waits until the spooler lists job `id` of `queue` as completed (with job history on).
bool CompletesWithHistory(int id, const QString& queue) {
  const QDeadlineTimer deadline(60000);
  while (!test::CompletedJobIds(queue).contains(id)) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(100);
  }
  return true;
}

// A job the spooler no longer knows ended as the spooler said when it ended: completed and
// forgotten (no job history, purged after it printed) is not a failure; cancelled, also
// when purged before it printed, is. Asked only once the spooler has forgotten the job,
// by this program or by a new one (a restart: the subscription of the one before is used).
TEST_F(CupsOnceTest, AJobTheSpoolerForgetsCountsAsItEnded) {
  enum TDone { Prints, PurgedAfterPrinting, PurgedBeforePrinting, Cancelled };
  struct Case {
    const char* name;
    bool historyOff;
    TDone done;
    bool askedByANewProgram;
    TSpoolState state;
    TSpoolFailure failure;
    const char* reason;
    int pdfs;
  } const cases[] = {
      {"purged after it printed (cancel -a -x)", false, PurgedAfterPrinting, false, ssCompleted, sfNone,
       "completed; the print spooler has forgotten it since", 1},
      {"purged after it printed, asked after a restart", false, PurgedAfterPrinting, true, ssCompleted,
       sfNone, "completed; the print spooler has forgotten it since", 1},
      {"purged before it printed (cancel -a -x)", false, PurgedBeforePrinting, false, ssFailed, sfCancelled,
       "was cancelled and removed", 0},
      {"history off, printed", true, Prints, false, ssCompleted, sfNone,
       "completed; the print spooler has forgotten it since", 1},
      {"history off, printed, asked after a restart", true, Prints, true, ssCompleted, sfNone,
       "completed; the print spooler has forgotten it since", 1},
      {"history off, cancelled (cancel N)", true, Cancelled, false, ssFailed, sfCancelled,
       "was cancelled and removed", 0},
  };
  // Failures of one kind make one box: their lines match where their reasons do not.
  QSet<QString> cancelledReasons, cancelledLines;
  for (const bool historyOff : {false, true}) {
    std::optional<test::TCupsdDirective> history;
    if (historyOff)
      history.emplace(QStringLiteral("PreserveJobHistory"), QStringLiteral("No"), QStringLiteral("Yes"));
    for (const Case& c : cases) {
      if (c.historyOff != historyOff) continue;
      SCOPED_TRACE(c.name);
      const bool held = c.done == PurgedBeforePrinting || c.done == Cancelled;
      if (held) test::RunTool(QStringLiteral("cupsdisable"), {Queue()});
      const TJobTicket ticket = FJobs->PrintText(Page, QFont(), TPrintJobs::JobTitle, QUuid::createUuid());
      ASSERT_GT(ticket.SpoolerJob, 0);
      const int id = ticket.SpoolerJob;
      switch (c.done) {
        case Prints:  // and is forgotten at once: nothing to wait on but the PDF
          ASSERT_TRUE(test::WaitForJobPdf(id, 60000)) << "job " << id << " never printed";
          break;
        case PurgedAfterPrinting:
          ASSERT_TRUE(CompletesWithHistory(id, Queue())) << "job " << id << " never completed";
          test::RunTool(QStringLiteral("cancel"), {QStringLiteral("-a"), QStringLiteral("-x"), Queue()});
          break;
        case PurgedBeforePrinting:
          test::RunTool(QStringLiteral("cancel"), {QStringLiteral("-a"), QStringLiteral("-x"), Queue()});
          break;
        case Cancelled:
          test::RunTool(QStringLiteral("cancel"), {QString::number(id)});
          break;
      }
      if (held) test::RunTool(QStringLiteral("cupsenable"), {Queue()});
      ASSERT_TRUE(test::WaitUntilForgotten(id, Queue(), 60000)) << "the spooler still knows job " << id;

      const TPrintJobs restarted(TPrinterList{{Queue()}, {}});
      const TSpoolAnswer answer = (c.askedByANewProgram ? restarted : *FJobs).JobState(ticket);
      EXPECT_EQ(answer.State, c.state);
      EXPECT_EQ(answer.Failure, c.failure);
      EXPECT_THAT(answer.Reason.toStdString(), HasSubstr(c.reason));
      EXPECT_EQ(test::JobPdfCount(id), c.pdfs);
      if (answer.Failure == sfCancelled) {
        cancelledReasons << answer.Reason;
        cancelledLines << FailureKindText(answer.Failure, ticket.Printer);
      }
    }
    if (history) history->Restore();
  }
  EXPECT_EQ(cancelledReasons.size(), 2);
  EXPECT_THAT(cancelledLines.values(),
              ElementsAre(QStringLiteral("Jobs on %1 were cancelled at the print spooler").arg(Queue())));
}

}  // namespace
}  // namespace qm
