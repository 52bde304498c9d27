// A full page from packets to paper through real CUPS: the window prints on the system's
// default printer, the Quillmark-PDF queue (scripts/cups-pdf-queue.sh start).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <memory>
#include <string>

#include "app/HistoryWindow.h"
#include "app/MainForm.h"
#include "base/Timing.h"
#include "desk/MessageDesk.h"
#include "desk/PrintQueue.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/CupsPdfQueue.h"
#include "tests/support/PacketBuilder.h"
#include "tests/support/PdfTools.h"

namespace qm {
namespace {

using ::testing::ElementsAreArray;

// A window that prints on the system's default printer (the test queue), followed closely.
TMainFormSetup QueueSetup(test::TFormEnvironment& env) {
  TMainFormSetup setup = env.Setup();
  setup.Printers.reset();
  setup.PrintToFile.clear();
  setup.SpoolPoll = std::chrono::milliseconds(200);
  return setup;
}

TEST(PacketFlowCups, TwentyOneMessagesReachTheQueueAsOnePage) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();

  test::TFormEnvironment env;
  TMainFormSetup setup = env.Setup();
  setup.Printers.reset();  // the system's printers
  setup.PrintToFile.clear();
  const TDateTime local = 46363.75, utc = 46363.25;
  setup.Clock = [=](TTimeFormat f) { return f == tfLocal ? local : utc; };
  TMainForm form(std::move(setup));
  ASSERT_TRUE(form.Desk().Printers().contains(test::CupsPdfQueue))
      << "queue " << test::CupsPdfQueue.toStdString()
      << " not installed; run scripts/cups-pdf-queue.sh start";
  ASSERT_EQ(form.Desk().PrinterName(), test::CupsPdfQueue)
      << "the queue is not the default printer of this process";
  form.cbBull->setChecked(true);

  const QString line1 = QString::fromStdString("LOCAL:[" + DateTimeToRegionalText(local) + "]  UTC:[" +
                                               DateTimeToRegionalText(utc) + "]");
  QStringList expected;
  const QSet<int> before = test::CompletedJobIds();
  for (int n = 1; n <= 21; ++n) {
    SCOPED_TRACE(n);
    const std::string text = "Net tonight, item " + std::to_string(n);
    env.Host->Deliver("*12:00:00 N0CALL-5>APRS,WIDE1-1,WIDE2-1::BLN1     :" + text + "{" + std::to_string(n));
    expected << line1 << QStringLiteral("  N0CALL-5>APRS via WIDE1-1,WIDE2-1")
             << QStringLiteral("  BLN1: ") + QString::fromStdString(text);
    // Up to the 20th the entry is listed; the 21st empties the list into a job, once the
    // spooler has confirmed it.
    ASSERT_TRUE(test::WaitFor([&] { return form.MessageLineCount() == (n < 21 ? 3 * n : 0); }, 60000));
  }
  EXPECT_EQ(form.lbMsgStatus->text(), QStringLiteral("0 of 20 messages collected"));
  EXPECT_EQ(form.Desk().LastPrinted().Pages, 1);
  EXPECT_EQ(form.Desk().LastPrinted().Lines, 64);  // 63 lines and the trailing blank one

  const int id = test::WaitForNewCompletedJob(before, 60000);
  ASSERT_GE(id, 0) << "no job completed on " << test::CupsPdfQueue.toStdString() << " within 60 s";
  EXPECT_EQ(test::JobName(id), QStringLiteral("Quillmark"));
  // The history names the job by the spooler's number, as the log and the archive do.
  ASSERT_TRUE(test::WaitFor([&] { return form.Desk().HistoryReader()->Listed().empty(); }, 10000));
  EXPECT_EQ(HistoryPrintedText(form.Desk().HistoryReader()->Messages({1}).at(0)),
            QStringLiteral("Printed in job %1").arg(id));
  const QString pdf = test::JobPdf(id);
  ASSERT_FALSE(pdf.isEmpty()) << "no PDF for job " << id << " in " << test::CupsPdfFolder.toStdString();
  EXPECT_EQ(test::PdfPages(pdf), 1);
  EXPECT_THAT(test::StdLines(test::PdfLines(pdf)), ElementsAreArray(test::AsPdfTextLines(expected)));
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

// A past job printed again from the history is the same text as the first time under the
// reprint's mark, as a new job named as every job, and the list stays as it is.
TEST(PacketFlowCups, ReprintOfAPastJobMatchesTheOriginal) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  test::TFormEnvironment env;
  TMainForm form(QueueSetup(env));
  ASSERT_EQ(form.Desk().PrinterName(), test::CupsPdfQueue);
  form.cbBull->setChecked(true);
  for (int n = 1; n <= 4; ++n) {
    env.Host->Deliver("*N0CALL-5>APRS::BLN" + std::to_string(n) + "     :Reprint item " + std::to_string(n));
    ASSERT_TRUE(test::WaitFor([&] { return form.Desk().Listed().size() == std::size_t(n); }, 20000));
    env.Tick += 30000;
  }
  QSet<int> before = test::CompletedJobIds();
  form.btnPrintNow->click();
  ASSERT_TRUE(test::WaitFor([&] { return form.Desk().Listed().empty() && form.Desk().PendingJobs().empty(); },
                            60000));
  const int original = test::WaitForNewCompletedJob(before, 60000);
  ASSERT_GE(original, 0);
  env.Host->Deliver("*N0CALL-5>APRS::BLN5     :Still listed");
  ASSERT_TRUE(test::WaitFor([&] { return form.Desk().Listed().size() == 1; }, 20000));

  // The number the history and the log show is the spooler's, and it names the job.
  const std::int64_t job = JobNumber(form.Desk().HistoryReader()->Message(1));
  ASSERT_EQ(job, original);
  before = test::CompletedJobIds();
  ASSERT_TRUE(form.RunGuarded([&] { form.Desk().ReprintJob(job); }));
  const int reprint = test::WaitForNewCompletedJob(before, 60000);
  ASSERT_GE(reprint, 0) << "the reprint never completed";
  EXPECT_EQ(test::JobName(reprint), QStringLiteral("Quillmark"));
  const QStringList first = test::PdfLines(test::JobPdf(original));
  ASSERT_EQ(first.size(), 12);
  EXPECT_EQ(test::PdfLines(test::JobPdf(reprint)),
            QStringList{QStringLiteral("REPRINT of job %1").arg(original)} + first);
  ASSERT_EQ(form.Desk().Listed().size(), 1u);
  EXPECT_EQ(form.Desk().Listed()[0].Job, 0u);
  EXPECT_EQ(form.Desk().HistoryReader()->Message(5).PrintState, psUnprinted);
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

// The spooler stops in the middle of a run and comes back: every message reaches the queue,
// none twice, and the failure is shown once.
TEST(PacketFlowCups, SpoolerStoppedMidRunLosesNothingAndPrintsNothingTwice) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  const QString script = qEnvironmentVariable("QM_SOURCE_DIR") + QStringLiteral("/scripts/cups-pdf-queue.sh");
  const auto queue = [&](const char* what) {
    return QProcess::execute(script, {QString::fromLatin1(what)}) == 0;
  };

  test::TFormEnvironment env;
  TMainForm form(QueueSetup(env));
  ASSERT_EQ(form.Desk().PrinterName(), test::CupsPdfQueue);
  form.cbBull->setChecked(true);
  form.edMsgCount->setText(QStringLiteral("4"));
  const QSet<int> before = test::CompletedJobIds();

  int sent = 0;
  const auto send = [&](int count) {
    for (int i = 0; i < count; ++i) {
      ++sent;
      const int listedBefore = static_cast<int>(form.Desk().Listed().size());
      env.Host->Deliver("*N0CALL-5>APRS::BLN" + std::to_string(sent % 10) + "     :Spool item " +
                        std::to_string(sent) + " end");
      ASSERT_TRUE(
          test::WaitFor([&] { return form.Desk().Listed().size() != std::size_t(listedBefore); }, 20000));
    }
  };
  send(12);
  ASSERT_TRUE(queue("halt"));
  send(12);  // pages refused while the spooler is down
  const QStringList errorsWhileDown = env.Errors;
  ASSERT_TRUE(queue("start"));
  send(6);
  form.btnPrintNow->click();
  ASSERT_TRUE(test::WaitFor([&] { return form.Desk().Listed().empty() && form.Desk().PendingJobs().empty(); },
                            120000))
      << form.Desk().Listed().size() << " listed, " << form.Desk().PendingJobs().size() << " jobs pending";
  EXPECT_EQ(form.lbMsgStatus->text(), QStringLiteral("0 of 4 messages collected"));
  // The refusal was shown once, not once a page.
  EXPECT_EQ(errorsWhileDown.size(), 1) << errorsWhileDown.join(QStringLiteral("; ")).toStdString();

  // Every message on paper exactly once.
  QMap<int, int> printed;
  QElapsedTimer timer;
  timer.start();
  QSet<int> jobs;
  do {
    jobs = test::CompletedJobIds() - before;
    printed.clear();
    for (int id : jobs) {
      const QString pdf = test::JobPdf(id);
      if (pdf.isEmpty()) continue;
      const QString text = test::PdfText(pdf);
      QRegularExpression item(QStringLiteral("Spool item (\\d+) end"));
      for (auto m = item.globalMatch(text); m.hasNext();) ++printed[m.next().captured(1).toInt()];
    }
  } while (printed.size() < sent && timer.elapsed() < 60000 && (QThread::msleep(200), true));
  for (int n = 1; n <= sent; ++n) EXPECT_EQ(printed.value(n), 1) << "message " << n;
}

// A window printing on a queue of the test's own, which the test may stop and start.
TMainFormSetup PrivateQueueSetup(test::TFormEnvironment& env, const test::TPrivateCupsQueue& queue) {
  TMainFormSetup setup = QueueSetup(env);
  setup.Options.Printer = queue.Name();
  return setup;
}

// How many of the queue's completed jobs since `before` carry `text`.
int PagesWith(const test::TPrivateCupsQueue& queue, const QSet<int>& before, const QString& text) {
  int pages = 0;
  for (int id : test::CompletedJobIds(queue.Name()) - before) {
    const QString pdf = test::JobPdf(id);
    if (!pdf.isEmpty() && test::PdfText(pdf).contains(text)) ++pages;
  }
  return pages;
}

// A full text the spooler refused is printed once when it takes jobs again, however many
// pages were tried meanwhile.
TEST(PacketFlowCups, RefusedFullTextPrintsOnceWhenTheQueueTakesJobsAgain) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  test::TPrivateCupsQueue queue;
  test::TFormEnvironment env;
  TMainForm form(PrivateQueueSetup(env, queue));
  ASSERT_EQ(form.Desk().PrinterName(), queue.Name());
  queue.Accept(false);
  EXPECT_FALSE(form.RunGuarded([&] { form.Print("FULL TEXT 4711"); }));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(form.RunGuarded([&] { form.btnPrintNowClick(); }));
  queue.Accept(true);
  const QSet<int> before = test::CompletedJobIds(queue.Name());
  ASSERT_TRUE(form.RunGuarded([&] { form.btnPrintNowClick(); }));
  ASSERT_TRUE(test::WaitFor([&] { return form.Desk().PendingJobs().empty(); }, 60000));
  EXPECT_EQ(PagesWith(queue, before, QStringLiteral("FULL TEXT 4711")), 1);
}

// Pages still with the spooler when the program ends: the end does not wait for them; at the
// next start they are followed, one is printed once, and the entries of one the operator
// cleared do not come back when the spooler cancels it.
TEST(PacketFlowCups, PagesAtTheSpoolerOutliveTheEnd) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  test::TPrivateCupsQueue queue;
  test::TFormEnvironment env;
  queue.Enable(false);  // jobs wait in the queue
  auto form = std::make_unique<TMainForm>(PrivateQueueSetup(env, queue));
  form->cbBull->setChecked(true);
  const auto send = [&](int first, int last) {
    for (int n = first; n <= last; ++n)
      env.Host->Deliver("*N0CALL-5>APRS::BLN" + std::to_string(n) + "     :Waiting item " +
                        std::to_string(n) + " end");
    ASSERT_TRUE(test::WaitFor([&] { return form->Desk().Listed().size() == std::size_t(last); }, 20000));
    form->btnPrintNow->click();
  };
  send(1, 3);
  send(4, 5);
  ASSERT_EQ(form->Desk().PendingJobs().size(), 2u);
  form->btnClearMessages->click();  // the second page's entries: cleared while it waits
  int ended = 0;
  form->EndApplication = [&] { ++ended; };
  QElapsedTimer timer;
  timer.start();
  env.Host->Close();
  EXPECT_EQ(ended, 1);
  EXPECT_LT(timer.elapsed(), 5000);
  form->SaveSettings();
  form.reset();

  const QList<int> waiting = queue.PendingJobIds().values();
  ASSERT_EQ(waiting.size(), 2);
  queue.Cancel(*std::max_element(waiting.begin(), waiting.end()));
  const QSet<int> before = test::CompletedJobIds(queue.Name());
  queue.Enable(true);
  form = std::make_unique<TMainForm>(PrivateQueueSetup(env, queue));
  ASSERT_TRUE(test::WaitFor([&] { return form->Desk().PendingJobs().empty(); }, 60000));
  EXPECT_TRUE(form->Desk().Listed().empty());
  EXPECT_EQ(form->MessageLineCount(), 0);
  for (int n = 1; n <= 3; ++n)
    EXPECT_EQ(PagesWith(queue, before, QStringLiteral("Waiting item %1 end").arg(n)), 1);
  for (int n = 4; n <= 5; ++n)
    EXPECT_EQ(PagesWith(queue, before, QStringLiteral("Waiting item %1 end").arg(n)), 0);
}

// "Yes" at the close box waits a while for the spooler; a page still waiting then is followed
// at the next start, and an older failure that has nothing to do with it keeps no window open.
TEST(PacketFlowCups, CloseThatOutwaitsTheSpoolerIsNotHeldByAnOlderFailure) {
  test::TPrivateCupsQueue queue;
  test::TFormEnvironment env;
  TMainFormSetup setup = PrivateQueueSetup(env, queue);
  setup.EndPrintBound = std::chrono::milliseconds(1000);
  env.Answer = QMessageBox::Yes;
  TMainForm form(std::move(setup));
  form.cbBull->setChecked(true);
  form.edMsgCount->setText(QStringLiteral("1"));
  queue.Accept(false);
  for (int n = 1; n <= 2; ++n)
    env.Host->Deliver("*N0CALL-5>APRS::BLN" + std::to_string(n) + "     :Item " + std::to_string(n));
  ASSERT_TRUE(
      test::WaitFor([&] { return form.Desk().Listed().size() == 2u && !env.Errors.isEmpty(); }, 20000));
  queue.Accept(true);
  queue.Enable(false);
  form.show();
  EXPECT_TRUE(form.close());
  EXPECT_EQ(form.Desk().PendingJobs().size(), 1u);
  EXPECT_EQ(env.Errors.size(), 1) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

// A first start (no settings file) replays the bundled demo: its pages become PDF files in
// the data folder and none reaches the default printer, which is a real CUPS queue here.
TEST(PacketFlowCups, FirstStartDemoNeverReachesTheDefaultPrinter) {
  test::TFormEnvironment env;
  TMainFormSetup setup = env.Setup();
  setup.CreateHost = nullptr;  // the real replay of the bundled demo traffic
  setup.Printers.reset();
  setup.PrintToFile.clear();
  setup.Options.Pace = 0;  // as --pace 0 would: as fast as the window takes them
  ASSERT_FALSE(QFileInfo::exists(QString::fromStdString(setup.IniFile)));
  const QSet<int> before = test::CompletedJobIds();
  bool ended = false;
  TMainForm form(std::move(setup));
  form.EndApplication = [&] { ended = true; };
  ASSERT_EQ(form.Desk().PrinterName(), test::CupsPdfQueue);
  EXPECT_TRUE(form.FirstStart());
  const QString pages = env.Dir.path() + QStringLiteral("/demo-pages");
  EXPECT_TRUE(form.lblSourceNote->text().contains(pages)) << form.lblSourceNote->text().toStdString();
  form.cbBull->setChecked(true);
  ASSERT_TRUE(test::WaitFor([&] { return ended; }, 120000)) << "the demo never ended";

  const QStringList pdfs = QDir(pages).entryList({QStringLiteral("quillmark-*.pdf")}, QDir::Files);
  EXPECT_GE(pdfs.size(), 1);
  EXPECT_EQ(form.PdfFolderUsed(), pages);
  QThread::msleep(2000);  // a job wrongly sent would have completed by now
  EXPECT_EQ(test::CompletedJobIds() - before, QSet<int>{});
  QProcess lpstat;
  lpstat.start(QStringLiteral("lpstat"), {QStringLiteral("-o"), test::CupsPdfQueue});
  ASSERT_TRUE(lpstat.waitForFinished(10000));
  EXPECT_EQ(lpstat.readAllStandardOutput().trimmed(), QByteArray());
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

// The desk alone, on data folder `dir`, printing two bulletins a page on `queue`; it restores
// what an earlier run left.
std::unique_ptr<TMessageDesk> SweepDesk(const QString& dir, const QString& queue,
                                        std::chrono::milliseconds printerPoll = std::chrono::seconds(5)) {
  TDeskSetup setup;
  setup.DataDir = dir.toStdString();
  setup.SpoolPoll = std::chrono::milliseconds(100);
  setup.PrinterPoll = printerPoll;
  auto desk = std::make_unique<TMessageDesk>(std::move(setup));
  const int index = desk->Printers().indexOf(queue);
  EXPECT_GE(index, 0) << queue.toStdString();
  desk->SelectPrinter(index);
  TDeskChoices choices;
  choices.Selection.Bulletins = true;
  choices.PageSetting = "1";
  desk->SetChoices(choices);
  desk->CreateLogger();
  desk->OpenStore();
  desk->RestoreListed();
  desk->SetReady();
  return desk;
}

std::string SweepText(int n) {
  return "Sweep item " + std::to_string(n) + " end";
}

TEST(PacketFlowSweep, Child) {
  // Run only as the child of the sweep below: four bulletins in, two pages, the end; the
  // environment's QM_TEST_KILL_AT kills it on the way.
  const QString dir = qEnvironmentVariable("QM_SWEEP_DIR");
  if (dir.isEmpty()) GTEST_SKIP() << "runs only as the child of EveryKillPointLeavesEachMessageOnPaperOnce";
  auto desk = SweepDesk(dir, qEnvironmentVariable("QM_SWEEP_QUEUE"));
  for (int n = 1; n <= 4; ++n)
    desk->Take(std::make_unique<TAprsMsgPacket>(
        test::MakePacket(mkBulletin, "N0CALL-5", "BLN" + std::to_string(n), SweepText(n))));
  ASSERT_TRUE(test::WaitFor(
      [&] { return desk->Settled() && desk->Listed().empty() && desk->PendingJobs().empty(); }, 60000));
  desk->KeepUnprintedForNextStart();
  desk->Close();
  std::puts("ended");
  std::fflush(stdout);
}

QString FolderLog(const QString& dir) {
  QString log;
  for (const QFileInfo& file : QDir(dir).entryInfoList(QDir::Files)) {
    if (file.fileName().startsWith(QStringLiteral("Quillmark-messages"))) continue;
    QFile f(file.filePath());
    if (f.open(QIODevice::ReadOnly)) log += QString::fromLatin1(f.readAll());
  }
  return log;
}

// A disabled queue is shown and logged once when it starts and once when it ends; three
// pages cancelled there make one box, and each job's reason is logged.
TEST(PacketFlowCups, ADisabledQueueIsToldOnceAndCancelledPagesMakeOneBox) {
  test::TPrivateCupsQueue queue;
  QTemporaryDir dir;
  queue.Enable(false);
  auto desk = SweepDesk(dir.path(), queue.Name(), std::chrono::milliseconds(100));
  QStringList problems;
  int boxes = 0;
  QObject::connect(desk.get(), &TMessageDesk::PrinterProblemsChanged,
                   [&](const QStringList& p) { problems = p; });
  QObject::connect(desk.get(), &TMessageDesk::FailureToReport, [&] { ++boxes; });
  ASSERT_TRUE(test::WaitFor([&] { return !problems.isEmpty(); }, 10000));
  const QString line = problems.front();
  for (int n = 1; n <= 6; ++n)
    desk->Take(
        std::make_unique<TAprsMsgPacket>(test::MakePacket(mkBulletin, "N0CALL-5", "BLN1", SweepText(n))));
  ASSERT_TRUE(test::WaitFor([&] { return desk->Settled(); }));
  ASSERT_EQ(desk->PendingJobs().size(), 3u);
  for (int job : queue.PendingJobIds()) queue.Cancel(job);
  ASSERT_TRUE(test::WaitFor([&] { return desk->PendingJobs().empty(); }, 20000));
  EXPECT_EQ(desk->Listed().size(), 6u);
  EXPECT_EQ(boxes, 1);
  queue.Enable(true);
  ASSERT_TRUE(test::WaitFor([&] { return problems.isEmpty(); }, 10000));
  desk->Close();
  const QString log = FolderLog(dir.path());
  EXPECT_EQ(log.count(line), 2) << log.toStdString();  // appeared, and gone
  EXPECT_EQ(log.count(QStringLiteral("No longer so: ") + line), 1);
  EXPECT_EQ(log.count(QStringLiteral("Printing failed: ")), 3);
}

// The whole flow killed with SIGKILL at its k-th store change, commit, log write or spooler
// call, for every k it has: after a restart and the next page every stored message is on paper
// exactly once and in the log at least once, and every message the killed run had logged was
// stored (a log line never comes before its commit).
TEST(PacketFlowSweep, EveryKillPointLeavesEachMessageOnPaperOnce) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  test::TPrivateCupsQueue queue;
  int swept = 0;
  for (int k = 1;; ++k) {
    SCOPED_TRACE("killed at point " + std::to_string(k));
    QTemporaryDir dir;
    const QSet<int> before = test::CompletedJobIds(queue.Name());
    QProcess child;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("QM_SWEEP_DIR"), dir.path());
    e.insert(QStringLiteral("QM_SWEEP_QUEUE"), queue.Name());
    e.insert(QStringLiteral("QM_TEST_KILL_AT"), QString::number(k));
    child.setProcessEnvironment(e);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=PacketFlowSweep.Child")});
    ASSERT_TRUE(child.waitForFinished(90000));
    const bool killed = child.exitStatus() == QProcess::CrashExit;
    if (!killed) {
      ASSERT_TRUE(child.readAllStandardOutput().contains("ended")) << "the run failed before point " << k;
      break;
    }
    ++swept;
    const QString loggedBeforeRestart = FolderLog(dir.path());
    {
      auto desk = SweepDesk(dir.path(), queue.Name());
      ASSERT_TRUE(test::WaitFor(
          [&] {
            if (!desk->PendingJobs().empty()) return false;
            if (desk->Listed().empty()) return true;
            desk->PrintNow();
            return false;
          },
          60000));
      desk->Close();
    }
    const QString log = FolderLog(dir.path());
    TMessageStore store((dir.path() + QStringLiteral("/Quillmark-messages.db")).toStdString());
    QSet<QString> stored;
    for (const TStoredMessage& m : store.Messages(store.FindMessages({})))
      stored.insert(QString::fromStdString(m.MessageText));
    for (int n = 1; n <= 4; ++n) {
      const QString text = QString::fromStdString(SweepText(n));
      SCOPED_TRACE(text.toStdString());
      EXPECT_EQ(PagesWith(queue, before, text), stored.contains(text) ? 1 : 0);
      EXPECT_TRUE(!stored.contains(text) || log.contains(text));
      EXPECT_TRUE(!loggedBeforeRestart.contains(text) || stored.contains(text));
    }
    if (HasFatalFailure() || HasNonfatalFailure()) break;
  }
  std::printf("kill points swept: %d\n", swept);
  EXPECT_GT(swept, 10);
}

}  // namespace
}  // namespace qm

int main(int argc, char** argv) {
  // This process prints on the test queue without changing the machine's default printer.
  qputenv("LPDEST", qm::test::CupsPdfQueue.toLatin1());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qm::test::App();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
