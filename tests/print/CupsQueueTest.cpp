// Prints through the real CUPS queue Quillmark-PDF (scripts/cups-pdf-queue.sh start).
#include "CupsPdfQueue.h"
#include "PdfTools.h"
#include "PrintJobs.h"
#include "ProgramFont.h"

#include <QPrintDialog>
#include <QPrinter>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qm {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

TEST(CupsQueueTest, ListJobReachesThePdfQueueUnderItsName) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();

  TPrintJobs jobs;
  const int index = int(jobs.Printers().indexOf(test::CupsPdfQueue));
  ASSERT_GE(index, 0) << "queue " << test::CupsPdfQueue.toStdString()
                      << " not installed; run scripts/cups-pdf-queue.sh start";
  jobs.SelectPrinter(index);
  EXPECT_EQ(jobs.CurrentPrinterName(), test::CupsPdfQueue);

  const QStringList entry{QStringLiteral("LOCAL:[07/12/2026 22:01:02]  UTC:[07/12/2026 22:01:02]"),
                          QStringLiteral("  N0CALL>APRS via WIDE1-1,WIDE2-1"),
                          QStringLiteral("  BLN1: Net tonight at 8 pm on 147.000")};
  const QSet<int> before = test::CompletedJobIds();
  jobs.PrintText(ListJobDocument(entry), ProgramFont(QStringLiteral("Courier New"), 10));
  EXPECT_EQ(jobs.LastJob().Pages, 1);

  const int id = test::WaitForNewCompletedJob(before, 60000);
  ASSERT_GE(id, 0) << "no job completed on " << test::CupsPdfQueue.toStdString() << " within 60 s";
  EXPECT_EQ(test::JobName(id), QStringLiteral("Quillmark"));
  const QString pdf = test::JobPdf(id);
  ASSERT_FALSE(pdf.isEmpty()) << "no PDF for job " << id << " in " << test::CupsPdfFolder.toStdString();
  EXPECT_EQ(test::NewestCompletedJobPdf(), pdf);
  EXPECT_EQ(test::PdfPages(pdf), 1);
  EXPECT_THAT(test::StdLines(test::PdfLines(pdf)), ElementsAreArray(test::AsPdfTextLines(entry)));
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

}  // namespace
}  // namespace qm
