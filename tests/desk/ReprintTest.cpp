// Reprints name a job as the history and the log show it, and an operator's mistake (a job or
// message that was never stored) is refused as such: never a failure of the store, never
// "last failure", nothing printed.
#include <gtest/gtest.h>

#include <QFile>

#include "store/MessageStore.h"
#include "tests/support/DeskRig.h"
#include "tests/support/PdfTools.h"

namespace qm {
namespace {

TEST(Reprint, AJobByItsNumberAndATypoIsTheOperatorsMistake) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = true;
  rig.Make();
  rig.SendBulletin(1);
  rig.SendBulletin(2);
  rig.Desk->PrintNow();
  ASSERT_TRUE(test::SettleDesk(*rig.Desk));
  ASSERT_TRUE(rig.Printed());
  const QStringList page = test::PdfLines(rig.PdfFile());
  ASSERT_TRUE(QFile::remove(rig.PdfFile()));
  const TStoredMessage first = rig.Desk->HistoryReader()->Message(1);
  ASSERT_EQ(first.PrintState, psPrinted);
  // A page to a file has no spooler number: its number is the store's.
  rig.Desk->ReprintJob(JobNumber(first));
  ASSERT_TRUE(rig.Printed());
  EXPECT_EQ(test::PdfLines(rig.PdfFile()), page);
  ASSERT_TRUE(QFile::remove(rig.PdfFile()));

  const struct {
    const char* what;
    std::function<void()> reprint;
    const char* said;
  } cases[] = {
      {"a job never printed", [&] { rig.Desk->ReprintJob(2324); }, "No job 2324 was printed"},
      {"a message never stored",
       [&] {
         rig.Desk->ReprintMessages({first.Id, 999});
       },
       "No message 999 is stored"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      c.reprint();
      ADD_FAILURE() << "taken";
    } catch (const EMessageStoreError& e) {
      EXPECT_EQ(std::string(e.what()), c.said);
      EXPECT_EQ(e.Kind(), EMessageStoreError::ekRefused);
    }
    EXPECT_FALSE(rig.Printed());
  }
  EXPECT_TRUE(rig.Failures.isEmpty()) << rig.Failures.join(u'|').toStdString();
  EXPECT_FALSE(rig.Desk->StoreFailing());
  EXPECT_EQ(rig.LogCount(QStringLiteral("The message store failed")), 0);
}

}  // namespace
}  // namespace qm
