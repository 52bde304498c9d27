// Exactly once through the real CUPS spooler, on a queue of the test's own: jobs of a
// killed program found again, a page whose answer never came, and jobs the spooler forgets.
#include "print/PrintJobs.h"
#include "tests/support/CupsPdfQueue.h"
#include "tests/support/CupsProxy.h"
#include "tests/support/PdfTools.h"
#include "tests/support/SpoolWait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <sys/file.h>

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
    // Job files of ours, and those a killed child leaves, go here.
    FOldTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(FTemp.path()));
    FQueue = std::make_unique<test::TPrivateCupsQueue>();
    FJobs = std::make_unique<TPrintJobs>(TPrinterList{{FQueue->Name()}, {}});
    FJobs->SelectPrinter(0);
  }
  void TearDown() override {
    FJobs.reset();
    FQueue.reset();
    qputenv("TMPDIR", FOldTemp);
  }
  const QString& Queue() const { return FQueue->Name(); }
  void Tool(const char* program, QStringList arguments) const {
    test::RunTool(QString::fromLatin1(program), arguments << Queue());
  }

  QTemporaryDir FTemp;
  QByteArray FOldTemp;
  std::unique_ptr<test::TPrivateCupsQueue> FQueue;
  std::unique_ptr<TPrintJobs> FJobs;
};

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
  // A job on the queue, so that "not found" is not only an empty queue.
  ASSERT_GT(FJobs->PrintText(Page, QFont(), TPrintJobs::JobTitle, QUuid::createUuid()).SpoolerJob, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TFoundJob found = FJobs->FindJob(c.printer, c.token);
    EXPECT_EQ(found.State, c.state) << found.Reason.toStdString();
    EXPECT_EQ(found.Ticket.SpoolerJob, 0);
    EXPECT_EQ(found.Reason.isEmpty(), c.state == fsNotFound) << found.Reason.toStdString();
  }
}

// The child raises SIGKILL once the job has its number ("numbered": the page not sent) or
// once the page is handed over ("handed": the number not kept by anyone). Found by its token
// (pending, and again once completed) or asked about by the number: a job without its page
// is cancelled and failed, so it is printed again; one with it prints once.
TEST_F(CupsOnceTest, AJobOfAKilledProgramIsFoundAndPrintsOnce) {
  struct Case {
    const char* name;
    const char* killedAt;
    bool byToken;  // else by the number the callback was given
  } const cases[] = {
      {"killed before the page, found by token", "numbered", true},
      {"killed before the page, asked by number", "numbered", false},
      {"killed after the page, found by token", "handed", true},
  };
  const QString child = QDir(QStringLiteral(QM_KILL_CHILD_DIR)).filePath(QStringLiteral("print_kill_child"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool handed = QByteArray(c.killedAt) == "handed";
    Tool("cupsdisable", {});  // a page handed over waits
    const QUuid token = QUuid::createUuid();
    QString said;
    ASSERT_TRUE(
        test::RunsUntilKilled(child, {Queue(), token.toString(QUuid::WithoutBraces), c.killedAt}, said));
    const TJobTicket ticket{Queue(), said.section(QLatin1Char(' '), 1).toInt(), token};
    ASSERT_GT(ticket.SpoolerJob, 0) << said.toStdString();

    TSpoolAnswer answer;
    if (c.byToken) {
      const TFoundJob found = FJobs->FindJob(Queue(), token);
      EXPECT_EQ(found.State, fsFound) << found.Reason.toStdString();
      EXPECT_EQ(found.Ticket.SpoolerJob, ticket.SpoolerJob);
      answer = found.Answer;
    } else {
      answer = FJobs->JobState(ticket);
    }
    Tool("cupsenable", {});
    if (handed) {
      EXPECT_EQ(answer.State, ssPending);
      EXPECT_EQ(WaitWhile(*FJobs, ticket, {ssPending}).State, ssCompleted);
      EXPECT_EQ(FJobs->FindJob(Queue(), token).Answer.State, ssCompleted);
      EXPECT_EQ(test::JobName(ticket.SpoolerJob, Queue()), TPrintJobs::JobTitle);  // as the operator sees it
    } else {
      EXPECT_EQ(answer.Failure, sfNoPage);
      EXPECT_THAT(answer.Reason.toStdString(), HasSubstr("never received its page"));
      // Cancelled, so it cannot print later either.
      EXPECT_THAT(FJobs->JobState(ticket).Reason.toStdString(), HasSubstr("was cancelled"));
    }
    EXPECT_EQ(test::JobPdfCount(ticket.SpoolerJob), handed ? 1 : 0);
  }
}

// The page file a killed run left is removed at the next start; one that a running job holds
// and files of other names stay.
TEST_F(CupsOnceTest, PageFilesOfKilledRunsAreRemovedAndNoOthers) {
  const QString child = QDir(QStringLiteral(QM_KILL_CHILD_DIR)).filePath(QStringLiteral("print_kill_child"));
  QString said;
  ASSERT_TRUE(test::RunsUntilKilled(
      child, {Queue(), QUuid::createUuid().toString(QUuid::WithoutBraces), "numbered"}, said));
  const QDir temp(FTemp.path());
  ASSERT_EQ(temp.entryList({QStringLiteral("quillmark-job-*.pdf")}, QDir::Files).size(), 1);
  QTemporaryFile running(temp.filePath(QStringLiteral("quillmark-job-XXXXXX.pdf")));
  ASSERT_TRUE(running.open());
  ASSERT_EQ(::flock(running.handle(), LOCK_EX), 0);
  QFile other(temp.filePath(QStringLiteral("quillmark-notes.pdf")));
  ASSERT_TRUE(other.open(QIODevice::WriteOnly));
  other.close();

  EXPECT_EQ(TPrintJobs::RemoveLeftJobFiles(), 1);
  EXPECT_THAT(temp.entryList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name),
              ElementsAre(QFileInfo(running.fileName()).fileName(), QStringLiteral("quillmark-notes.pdf")));
}

// The spooler takes the page and its answer never comes (a go-between drops it), as from a
// spooler frozen there: no refusal (which would print it again) but a job to follow.
TEST_F(CupsOnceTest, APageTheSpoolerNeverConfirmedIsFollowedAndPrintsOnce) {
  test::TMutingCupsProxy proxy;
  TJobTicket ticket;
  {
    const test::TCupsServerFor viaProxy("127.0.0.1:" + QByteArray::number(proxy.Port()));
    QElapsedTimer took;
    took.start();
    ticket = FJobs->PrintText(Page, QFont(), TPrintJobs::JobTitle, QUuid::createUuid(),
                              [&](const TJobTicket& numbered) {
                                // Its own job is not cancelled for want of a page meanwhile.
                                EXPECT_EQ(FJobs->JobState(numbered).Reason, TPrintJobs::SendingText);
                                proxy.Mute();
                              });
    EXPECT_LT(took.elapsed(), 15000);  // the wait for the answer is bounded (10 s)
  }
  ASSERT_GT(ticket.SpoolerJob, 0);
  EXPECT_EQ(WaitWhile(*FJobs, ticket, {ssPending}).State, ssCompleted);
  EXPECT_EQ(test::JobPdfCount(ticket.SpoolerJob), 1);
}

// Asked only once the spooler has forgotten the job, by this program or by a new one (as
// after a restart). Failures of one kind make one line for the box.
TEST_F(CupsOnceTest, AJobTheSpoolerForgetsCountsAsItEnded) {
  enum TDone { Prints, PurgedAfterPrinting, PurgedBeforePrinting, Cancelled };
  struct Case {
    const char* name;
    bool historyOff;
    TDone done;
    bool askedByANewProgram;
    TSpoolFailure failure;  // sfNone: counts as printed
  } const cases[] = {
      {"purged after it printed (cancel -a -x)", false, PurgedAfterPrinting, false, sfNone},
      {"purged after it printed, asked after a restart", false, PurgedAfterPrinting, true, sfNone},
      {"purged before it printed (cancel -a -x)", false, PurgedBeforePrinting, false, sfCancelled},
      {"history off, printed", true, Prints, false, sfNone},
      {"history off, printed, asked after a restart", true, Prints, true, sfNone},
      {"history off, cancelled (cancel N)", true, Cancelled, false, sfCancelled},
  };
  QSet<QString> cancelledReasons, cancelledLines;
  for (const bool historyOff : {false, true}) {
    std::optional<test::TCupsdDirective> history;
    if (historyOff)
      history.emplace(QStringLiteral("PreserveJobHistory"), QStringLiteral("No"), QStringLiteral("Yes"));
    for (const Case& c : cases) {
      if (c.historyOff != historyOff) continue;
      SCOPED_TRACE(c.name);
      const bool held = c.done == PurgedBeforePrinting || c.done == Cancelled;
      if (held) Tool("cupsdisable", {});
      const TJobTicket ticket = FJobs->PrintText(Page, QFont(), TPrintJobs::JobTitle, QUuid::createUuid());
      const int id = ticket.SpoolerJob;
      ASSERT_GT(id, 0);
      if (c.done == Prints || c.done == PurgedAfterPrinting) {
        ASSERT_TRUE(test::WaitForJobPdf(id, 60000, Queue())) << "job " << id << " never printed";
      }
      if (c.done == Cancelled) {
        test::RunTool(QStringLiteral("cancel"), {QString::number(id)});
      } else if (c.done != Prints) {
        Tool("cancel", {"-a", "-x"});
      }
      if (held) Tool("cupsenable", {});
      ASSERT_TRUE(test::WaitUntilForgotten(id, Queue(), 60000)) << "the spooler still knows job " << id;

      const TPrintJobs restarted(TPrinterList{{Queue()}, {}});
      const TSpoolAnswer answer = (c.askedByANewProgram ? restarted : *FJobs).JobState(ticket);
      EXPECT_EQ(answer.State, c.failure == sfNone ? ssCompleted : ssFailed);
      EXPECT_EQ(answer.Failure, c.failure);
      EXPECT_THAT(answer.Reason.toStdString(),
                  HasSubstr(c.failure == sfNone ? "completed; the print spooler has forgotten it since"
                                                : "was cancelled and removed"));
      EXPECT_EQ(test::JobPdfCount(id), c.failure == sfNone ? 1 : 0);
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
