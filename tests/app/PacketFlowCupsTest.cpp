// A full page from packets to paper through real CUPS: the window prints on the system's
// default printer, the Quillmark-PDF queue (scripts/cups-pdf-queue.sh start).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>

#include <string>

#include "CupsPdfQueue.h"
#include "FormTestEnvironment.h"
#include "MainForm.h"
#include "PdfTools.h"
#include "Timing.h"

namespace qm {
namespace {

using ::testing::ElementsAreArray;

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
  ASSERT_TRUE(form.FPrintJobs->Printers().contains(test::CupsPdfQueue))
      << "queue " << test::CupsPdfQueue.toStdString()
      << " not installed; run scripts/cups-pdf-queue.sh start";
  ASSERT_EQ(form.FPrintJobs->CurrentPrinterName(), test::CupsPdfQueue)
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
    // Up to the 20th the entry is listed; the 21st empties the list into a job.
    ASSERT_TRUE(test::WaitFor([&] { return form.MessageLineCount() == (n < 21 ? 3 * n : 0); }));
  }
  EXPECT_EQ(form.lbMsgStatus->text(), QStringLiteral("21 of 20 messages collected"));
  EXPECT_EQ(form.FPrintJobs->LastJob().Pages, 1);
  EXPECT_EQ(form.FPrintJobs->LastJob().Lines, 64);  // 63 lines and the trailing blank one

  const int id = test::WaitForNewCompletedJob(before, 60000);
  ASSERT_GE(id, 0) << "no job completed on " << test::CupsPdfQueue.toStdString() << " within 60 s";
  EXPECT_EQ(test::JobName(id), QStringLiteral("Quillmark"));
  const QString pdf = test::JobPdf(id);
  ASSERT_FALSE(pdf.isEmpty()) << "no PDF for job " << id << " in " << test::CupsPdfFolder.toStdString();
  EXPECT_EQ(test::PdfPages(pdf), 1);
  EXPECT_THAT(test::StdLines(test::PdfLines(pdf)), ElementsAreArray(test::AsPdfTextLines(expected)));
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
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
